#include "history_export.h"

#include "history_csv.h"
#include "history_database.h"
#include "trace_store.h"

#include <QAtomicInt>
#include <QDebug>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>

// Traces are looked up a batch of rows at a time, not once per row.
static constexpr int kTraceBatchRows = 1000;

static bool exportThrough(const QSqlDatabase &db, const QString &date, const QString &path)
{
    QSqlError readError;
    const bool written =
        writeHistoryCsv(path, [&](const std::function<bool(const HistoryRecord &)> &visit) {
            QList<HistoryRecord> batch;
            const auto flush = [&batch, &visit, &db] {
                TraceStore::attachTraces(db, batch);
                for (const HistoryRecord &record : qAsConst(batch)) {
                    if (!visit(record))
                        return false;
                }
                batch.clear();
                return true;
            };
            const bool read = HistoryDatabase::visitHistory(
                db, date,
                [&batch, &flush](const HistoryRecord &record) {
                    batch.append(record);
                    return batch.size() < kTraceBatchRows || flush();
                },
                &readError);
            return read && flush();
        });
    if (readError.isValid())
        qCritical() << "Failed to read the history to export:" << readError.text();
    return written;
}

bool exportHistoryFile(const QString &databaseFile, const QString &date, const QString &path)
{
    // No empty database is made where none is.
    if (!QFileInfo::exists(databaseFile)) {
        qCritical() << "No history to export:" << databaseFile << "does not exist";
        return false;
    }
    static QAtomicInt exports;
    const QString name = QStringLiteral("history_export_%1").arg(exports.fetchAndAddRelaxed(1));
    bool written = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(databaseFile);
        // Not the GUI thread: it may wait out a backup tool's lock.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (db.open())
            written = exportThrough(db, date, path);
        else
            qCritical() << "Failed to open the history to export:" << db.lastError().text();
    }
    QSqlDatabase::removeDatabase(name);
    return written;
}
