#include "history_database.h"

#include "settings_store.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

static const char kCreateTable[] =
    "CREATE TABLE T_HISTORY("
    "                                    id           INTEGER PRIMARY KEY AUTOINCREMENT,"
    "                                    usb_port     VARCHAR(50),"
    "                                    image_file   VARCHAR(255),"
    "                                    begin_time   BIGINT,"
    "                                    date_str     VARCHAR(50),"
    "                                    used_seconds INTEGER,"
    "                                    burn_result  TINYINT"
    "                               )";

static const char kSelectColumns[] =
    "SELECT id, usb_port, image_file, begin_time, used_seconds, burn_result FROM T_HISTORY ";

static const char kDateFormat[] = "yyyy-MM-dd";

static HistoryDatabase *g_instance = nullptr;

static void destroyInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

HistoryDatabase *HistoryDatabase::instance()
{
    if (!g_instance) {
        g_instance = new HistoryDatabase(QStringLiteral("data.db"));
        qAddPostRoutine(destroyInstance);
    }
    return g_instance;
}

// A null QString binds as SQL NULL; the columns hold empty texts instead, and an
// empty cutoff date must compare as '' to match every dated row.
static QString nonNull(const QString &text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}

static HistoryRecord recordFrom(const QSqlQuery &query)
{
    HistoryRecord record;
    record.id = query.value(0).toInt();
    record.usbPort = query.value(1).toString();
    record.imageFile = query.value(2).toString();
    record.beginTime = QDateTime::fromSecsSinceEpoch(query.value(3).toLongLong());
    record.usedSeconds = query.value(4).toInt();
    record.result = query.value(5).toInt();
    return record;
}

HistoryDatabase::HistoryDatabase(const QString &fileName)
    : m_db(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE")))
{
    m_db.setDatabaseName(fileName);
    if (!m_db.open()) {
        qCritical() << "Failed to open SQLite!" << m_db.lastError();
        return;
    }
    useCrashSafeJournal();
    createTable();
}

HistoryDatabase::~HistoryDatabase()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

bool HistoryDatabase::isOpen() const
{
    return m_db.isOpen();
}

// Rollback journal with full sync: every statement commits on its own, and a
// console killed mid-statement leaves a hot journal that SQLite rolls back at the
// next open. The mode is set explicitly because WAL persists inside a copied-in
// file and would then need its -wal and -shm files beside "data.db".
void HistoryDatabase::useCrashSafeJournal()
{
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=DELETE")) || !query.next())
        qWarning() << "Failed to set the journal mode:" << query.lastError();
    else
        qDebug() << "SQLite journal mode:" << query.value(0).toString();
    if (!query.exec(QStringLiteral("PRAGMA synchronous=FULL")))
        qWarning() << "Failed to set synchronous mode:" << query.lastError();
}

// The flag lives in the settings file; a "data.db" replaced behind its back
// still gets its table.
void HistoryDatabase::createTable()
{
    if (SettingsStore::instance()->dbCreated() &&
        m_db.tables().contains(QStringLiteral("T_HISTORY")))
        return;
    QSqlQuery query(m_db);
    if (!query.exec(QLatin1String(kCreateTable))) {
        qCritical() << "Create table failed!" << query.lastError();
        return;
    }
    qDebug() << "Create table success";
    SettingsStore::instance()->setDbCreated(true);
}

int HistoryDatabase::insertHistory(const QString &usbPort, const QString &imageFile, qint64 begin,
                                    qint64 usedSeconds, bool success)
{
    const QString date = QDateTime::fromSecsSinceEpoch(begin).toString(QLatin1String(kDateFormat));
    QSqlQuery query(m_db);
    query.prepare(
        QStringLiteral("INSERT INTO T_HISTORY(usb_port, image_file, begin_time, date_str, "
                       "used_seconds, burn_result) VALUES(?, ?, ?, ?, ?, ?)"));
    query.addBindValue(nonNull(usbPort));
    query.addBindValue(nonNull(imageFile));
    query.addBindValue(begin);
    query.addBindValue(date);
    query.addBindValue(usedSeconds);
    query.addBindValue(success ? 1 : 0);
    if (!query.exec()) {
        qCritical() << "Insert data failed" << query.lastError();
        return -1;
    }
    return query.lastInsertId().toInt();
}

int HistoryDatabase::addHistory(const QString &usbPort, const QString &imageFile,
                                 const QDateTime &start, const QDateTime &end, bool success)
{
    // A slot that never started has no start time; the burn then counts from its end.
    const QDateTime begin = start.isValid() ? start : end;
    return insertHistory(usbPort, imageFile, begin.toSecsSinceEpoch(), begin.secsTo(end), success);
}

static int runDelete(QSqlQuery &query)
{
    if (!query.exec()) {
        qCritical() << "Delete history failed:" << query.lastError();
        return -1;
    }
    return query.numRowsAffected();
}

int HistoryDatabase::deleteHistory(int id)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM T_HISTORY WHERE id = ?"));
    query.addBindValue(id);
    const int deleted = runDelete(query);
    if (deleted >= 0)
        qDebug() << "Delete history:" << id;
    return deleted;
}

int HistoryDatabase::deleteHistoryAfter(const QString &date)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM T_HISTORY WHERE date_str > ?"));
    query.addBindValue(nonNull(date));
    return runDelete(query);
}

HistoryRecord HistoryDatabase::historyById(int id) const
{
    QSqlQuery query(m_db);
    query.prepare(QLatin1String(kSelectColumns) + QStringLiteral("WHERE id = ?"));
    query.addBindValue(id);
    if (query.exec() && query.next())
        return recordFrom(query);
    return HistoryRecord();
}

static QList<HistoryRecord> recordsFrom(QSqlQuery &query)
{
    QList<HistoryRecord> records;
    if (!query.exec())
        return records;
    while (query.next())
        records.append(recordFrom(query));
    return records;
}

QList<HistoryRecord> HistoryDatabase::historyOfDate(const QString &date) const
{
    QSqlQuery query(m_db);
    query.prepare(QLatin1String(kSelectColumns) +
                  QStringLiteral("WHERE date_str = ? ORDER BY begin_time DESC"));
    query.addBindValue(nonNull(date));
    return recordsFrom(query);
}

QList<HistoryRecord> HistoryDatabase::allHistory() const
{
    QSqlQuery query(m_db);
    query.prepare(QLatin1String(kSelectColumns) + QStringLiteral("ORDER BY begin_time, id"));
    return recordsFrom(query);
}

QList<QDate> HistoryDatabase::historyDates() const
{
    QList<QDate> dates;
    QSqlQuery query(m_db);
    if (!query.exec(
            QStringLiteral("SELECT date_str FROM T_HISTORY GROUP BY date_str ORDER BY date_str")))
        return dates;
    while (query.next()) {
        const QDate date = QDate::fromString(query.value(0).toString(), QLatin1String(kDateFormat));
        if (date.isValid())
            dates.append(date);
    }
    return dates;
}
