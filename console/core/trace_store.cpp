#include "trace_store.h"

#include "history_database.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

namespace
{

const char kCreateTrace[] =
    "CREATE TABLE IF NOT EXISTS T_BURN_TRACE("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " history_id INTEGER,"
    " station TEXT NOT NULL,"
    " usb_port TEXT NOT NULL,"
    " board_trace BLOB,"
    " image_file TEXT NOT NULL,"
    " image_version TEXT NOT NULL,"
    " board_type TEXT NOT NULL,"
    " table_crc INTEGER NOT NULL,"
    " begin_time BIGINT NOT NULL,"
    " end_time BIGINT NOT NULL,"
    " date_str TEXT NOT NULL,"
    " used_seconds INTEGER NOT NULL,"
    " burn_result TINYINT NOT NULL,"
    " failure_reason TEXT NOT NULL,"
    " shipped TINYINT NOT NULL DEFAULT 0)";
const char kCreateShippedIndex[] =
    "CREATE INDEX IF NOT EXISTS I_BURN_TRACE_SHIPPED ON T_BURN_TRACE(shipped, id)";
const char kCreateHistoryIndex[] =
    "CREATE INDEX IF NOT EXISTS I_BURN_TRACE_HISTORY ON T_BURN_TRACE(history_id)";
const char kCreateStore[] = "CREATE TABLE IF NOT EXISTS T_TRACE_STORE(store_id TEXT NOT NULL)";

TraceStore *g_instance = nullptr;

void destroyInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

QString nonNull(const QString &text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}

} // namespace

TraceStore *TraceStore::instance()
{
    if (!g_instance) {
        HistoryDatabase::instance();
        g_instance = new TraceStore(QSqlDatabase::database());
        qAddPostRoutine(destroyInstance);
    }
    return g_instance;
}

TraceStore::TraceStore(QSqlDatabase db) : m_db(std::move(db))
{
    m_ready = m_db.isOpen() && createTables();
}

bool TraceStore::createTables()
{
    QSqlQuery query(m_db);
    for (const char *statement : {kCreateTrace, kCreateShippedIndex, kCreateHistoryIndex, kCreateStore}) {
        if (!query.exec(QLatin1String(statement))) {
            qCritical() << "Create trace table failed!" << query.lastError();
            return false;
        }
    }
    if (query.exec(QStringLiteral("SELECT store_id FROM T_TRACE_STORE")) && query.next()) {
        m_storeId = query.value(0).toString();
        return true;
    }
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    query.prepare(QStringLiteral("INSERT INTO T_TRACE_STORE(store_id) VALUES(?)"));
    query.addBindValue(id);
    if (!query.exec()) {
        qCritical() << "Create trace store id failed!" << query.lastError();
        return false;
    }
    m_storeId = id;
    return true;
}

qint64 TraceStore::record(const BurnTrace &t)
{
    if (!m_ready)
        return -1;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral(
        "INSERT INTO T_BURN_TRACE(history_id, station, usb_port, board_trace, image_file,"
        " image_version, board_type, table_crc, begin_time, end_time, date_str, used_seconds,"
        " burn_result, failure_reason) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    query.addBindValue(t.historyId);
    query.addBindValue(nonNull(t.station));
    query.addBindValue(nonNull(t.usbPort));
    // An empty trace is stored as NULL: the board gave none.
    query.addBindValue(t.boardTrace.isEmpty() ? QVariant(QVariant::ByteArray) : QVariant(t.boardTrace));
    query.addBindValue(nonNull(t.imageFile));
    query.addBindValue(nonNull(t.image.version));
    query.addBindValue(nonNull(t.image.boardType));
    query.addBindValue(qint64(t.image.tableCrc));
    query.addBindValue(t.beginTime);
    query.addBindValue(t.endTime);
    query.addBindValue(nonNull(t.burnDate));
    query.addBindValue(t.usedSeconds);
    query.addBindValue(t.result);
    query.addBindValue(nonNull(t.failureReason));
    if (!query.exec()) {
        qCritical() << "Insert burn trace failed" << query.lastError();
        return -1;
    }
    return query.lastInsertId().toLongLong();
}

QList<BurnTrace> TraceStore::unshipped(qint64 afterId, int limit) const
{
    QList<BurnTrace> rows;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral(
        "SELECT id, history_id, station, usb_port, board_trace, image_file, image_version,"
        " board_type, table_crc, begin_time, end_time, date_str, used_seconds, burn_result,"
        " failure_reason FROM T_BURN_TRACE WHERE shipped = 0 AND id > ? ORDER BY id LIMIT ?"));
    query.addBindValue(afterId);
    query.addBindValue(limit);
    if (!query.exec())
        return rows;
    while (query.next()) {
        BurnTrace t;
        t.localId = query.value(0).toLongLong();
        t.historyId = query.value(1).toLongLong();
        t.station = query.value(2).toString();
        t.usbPort = query.value(3).toString();
        t.boardTrace = query.value(4).toByteArray();
        t.imageFile = query.value(5).toString();
        t.image.version = query.value(6).toString();
        t.image.boardType = query.value(7).toString();
        t.image.tableCrc = static_cast<quint32>(query.value(8).toLongLong());
        t.beginTime = query.value(9).toLongLong();
        t.endTime = query.value(10).toLongLong();
        t.burnDate = query.value(11).toString();
        t.usedSeconds = query.value(12).toInt();
        t.result = query.value(13).toInt();
        t.failureReason = query.value(14).toString();
        rows.append(t);
    }
    return rows;
}

int TraceStore::unshippedCount() const
{
    QSqlQuery query(m_db);
    if (query.exec(QStringLiteral("SELECT COUNT(*) FROM T_BURN_TRACE WHERE shipped = 0")) && query.next())
        return query.value(0).toInt();
    return 0;
}

bool TraceStore::markShipped(const QVector<qint64> &localIds)
{
    if (localIds.isEmpty())
        return true;
    QSqlQuery query(m_db);
    QString ids;
    for (qint64 id : localIds)
        ids += (ids.isEmpty() ? QString() : QStringLiteral(",")) + QString::number(id);
    if (!query.exec(QStringLiteral("UPDATE T_BURN_TRACE SET shipped = 1 WHERE id IN (%1)").arg(ids))) {
        qCritical() << "Marking shipped burns failed" << query.lastError();
        return false;
    }
    return true;
}

void TraceStore::attachTraces(QList<HistoryRecord> &records) const
{
    attachTraces(m_db, records);
}

void TraceStore::attachTraces(const QSqlDatabase &db, QList<HistoryRecord> &records)
{
    if (records.isEmpty())
        return;
    QString ids;
    for (const HistoryRecord &record : records)
        ids += (ids.isEmpty() ? QString() : QStringLiteral(",")) + QString::number(record.id);
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT history_id, board_trace FROM T_BURN_TRACE"
                                   " WHERE board_trace IS NOT NULL AND history_id IN (%1)")
                        .arg(ids)))
        return;
    QHash<int, QByteArray> traces;
    while (query.next())
        traces.insert(query.value(0).toInt(), query.value(1).toByteArray());
    for (HistoryRecord &record : records)
        record.boardTrace = traces.value(record.id);
}
