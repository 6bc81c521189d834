#include "history_database.h"

#include "file_sync.h"
#include "settings_store.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
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

// Local time of seconds since 1970. Each conversion through the system's time
// zone asks for the zone file again (a stat per row, most of a day's export),
// so the offset of the last quarter hour seen is kept: zones change their
// offset only at quarter hours.
QDateTime LocalTimeCache::at(qint64 seconds)
{
    const qint64 quarter = seconds >= 0 ? seconds / 900 : (seconds - 899) / 900;
    if (quarter != m_quarter) {
        m_quarter = quarter;
        m_offset = QDateTime::fromSecsSinceEpoch(quarter * 900).offsetFromUtc();
    }
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::OffsetFromUTC, m_offset);
}

static HistoryRecord recordFrom(const QSqlQuery &query, LocalTimeCache &localTime)
{
    HistoryRecord record;
    record.id = query.value(0).toInt();
    record.usbPort = query.value(1).toString();
    record.imageFile = query.value(2).toString();
    record.beginTime = localTime.at(query.value(3).toLongLong());
    record.usedSeconds = query.value(4).toInt();
    record.result = query.value(5).toInt();
    return record;
}

// SQLite's primary result codes that say the file is no (whole) database.
static const QString kCorrupt = QStringLiteral("11");
static const QString kNotADatabase = QStringLiteral("26");

// Waits at most this long for a lock another program holds, so the GUI
// thread never stalls on a backup tool; a refused row goes to the journal.
// Two statements of a result (history and trace) stay within 100 ms.
static const char kConnectOptions[] = "QSQLITE_BUSY_TIMEOUT=40";

HistoryDatabase::HistoryDatabase(const QString &fileName)
    : m_fileName(fileName), m_db(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE")))
{
    m_db.setDatabaseName(fileName);
    m_db.setConnectOptions(QLatin1String(kConnectOptions));
    open();
}

HistoryDatabase::~HistoryDatabase()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

void HistoryDatabase::noteError(const QSqlError &error) const
{
    // A statement that failed to prepare says why only in the driver's words.
    m_lastError = error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
    m_lastErrorCode = error.nativeErrorCode();
}

bool HistoryDatabase::lastErrorIsBusy() const
{
    // SQLITE_BUSY and SQLITE_LOCKED: another connection holds the file.
    return m_lastErrorCode == QLatin1String("5") || m_lastErrorCode == QLatin1String("6");
}

bool HistoryDatabase::isOpen() const
{
    return m_db.isOpen();
}

bool HistoryDatabase::reopen()
{
    // The check reads the whole file (a tenth of a second at 100,000 rows):
    // a file that was read-only or full is not looked through at every retry.
    const bool checkDamage = !m_db.isOpen() || m_lastErrorCode == kCorrupt ||
                             m_lastErrorCode == kNotADatabase;
    m_db.close();
    return open(checkDamage);
}

bool HistoryDatabase::open(bool checkDamage)
{
    if (!m_db.open()) {
        noteError(m_db.lastError());
        qCritical() << "Failed to open SQLite!" << m_db.lastError();
        return false;
    }
    if (checkDamage && isDamaged()) {
        setAside();
        if (!m_db.open()) {
            noteError(m_db.lastError());
            qCritical() << "Failed to open SQLite!" << m_db.lastError();
            return false;
        }
    }
    useWriteAheadLog();
    createTable();
    return true;
}

// A file that is no database, or a truncated one, would refuse every row for
// good; a busy file says nothing about its state.
bool HistoryDatabase::isDamaged()
{
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("PRAGMA quick_check(1)"))) {
        const QString code = query.lastError().nativeErrorCode();
        if (code != kCorrupt && code != kNotADatabase)
            return false;
        noteError(query.lastError());
        return true;
    }
    if (query.next() && query.value(0).toString() == QLatin1String("ok"))
        return false;
    m_lastError = query.value(0).toString();
    m_lastErrorCode = kCorrupt;
    return true;
}

// The damaged file (and the journal or log that belongs to it) is kept for
// whoever wants to rescue rows from it; a new file takes its place.
void HistoryDatabase::setAside()
{
    m_db.close();
    const QString aside = m_fileName + QStringLiteral(".damaged-") +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    if (!QFile::rename(m_fileName, aside)) {
        qCritical() << "Failed to move the damaged history database aside:" << m_fileName;
        return;
    }
    // Its logs go with it: a new file would otherwise replay the old one's log.
    for (const QString &suffix : {QStringLiteral("-journal"), QStringLiteral("-wal"),
                                  QStringLiteral("-shm")})
        QFile::rename(m_fileName + suffix, aside + suffix);
    m_setAsidePath = aside;
    qCritical() << "History database" << m_fileName << "is damaged (" << m_lastError
                << "); moved to" << aside << "and a new one made";
}

// Write-ahead log with normal sync: a row is committed with a few plain writes
// to "data.db-wal" and no wait for the disk, so a result costs the GUI thread
// well under a millisecond, and a killed console loses nothing (the log is in
// the system's cache and is replayed at the next open). A power cut needs the
// log on the disk: HistorySyncer pushes it there off the GUI thread before a
// result is shown as done. Readers no longer wait for a writer either. The
// mode is set explicitly on every open, also on a file copied in from a
// station that used a rollback journal.
void HistoryDatabase::useWriteAheadLog()
{
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !query.next())
        qWarning() << "Failed to set the journal mode:" << query.lastError();
    else
        qDebug() << "SQLite journal mode:" << query.value(0).toString();
    if (!query.exec(QStringLiteral("PRAGMA synchronous=NORMAL")))
        qWarning() << "Failed to set synchronous mode:" << query.lastError();
}

// The flag lives in the settings file; a "data.db" replaced behind its back
// still gets its table.
void HistoryDatabase::createTable()
{
    QSqlQuery query(m_db);
    if (!SettingsStore::instance()->dbCreated() ||
        !m_db.tables().contains(QStringLiteral("T_HISTORY"))) {
        if (query.exec(QLatin1String(kCreateTable))) {
            qDebug() << "Create table success";
            SettingsStore::instance()->setDbCreated(true);
        } else {
            qCritical() << "Create table failed!" << query.lastError();
        }
    }
    // A day's page is read by start time; without the index every page of a
    // busy day sorts the whole day again.
    if (!query.exec(QStringLiteral(
            "CREATE INDEX IF NOT EXISTS T_HISTORY_DAY ON T_HISTORY(date_str, begin_time)")))
        qWarning() << "Failed to index the history by day:" << query.lastError();
}

// fsync through a handle of our own: the system pushes the file's data
// whoever wrote it.
bool HistoryDatabase::syncLogToDisk(const QString &fileName)
{
    QFile log(fileName + QStringLiteral("-wal"));
    // No log: nothing is committed that is not in the database file already.
    if (!log.exists())
        return true;
    if (!log.open(QIODevice::ReadWrite | QIODevice::ExistingOnly) || !syncToDisk(log)) {
        qCritical() << "Failed to push the history log to the disk:" << log.fileName()
                    << log.errorString();
        return false;
    }
    return true;
}

static const char kInsert[] = "INSERT INTO T_HISTORY(usb_port, image_file, begin_time, date_str, "
                              "used_seconds, burn_result) ";

static QString dateOf(qint64 begin)
{
    return QDateTime::fromSecsSinceEpoch(begin).toString(QLatin1String(kDateFormat));
}

int HistoryDatabase::insertHistory(const QString &usbPort, const QString &imageFile, qint64 begin,
                                   qint64 usedSeconds, bool success)
{
    QSqlQuery query(m_db);
    query.prepare(QLatin1String(kInsert) + QStringLiteral("VALUES(?, ?, ?, ?, ?, ?)"));
    query.addBindValue(nonNull(usbPort));
    query.addBindValue(nonNull(imageFile));
    query.addBindValue(begin);
    query.addBindValue(dateOf(begin));
    query.addBindValue(usedSeconds);
    query.addBindValue(success ? 1 : 0);
    if (!query.exec()) {
        noteError(query.lastError());
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

bool HistoryDatabase::insertMissing(const QList<HistoryRecord> &records)
{
    if (!m_db.transaction()) {
        noteError(m_db.lastError());
        qCritical() << "Insert data failed" << m_db.lastError();
        return false;
    }
    QSqlQuery query(m_db);
    query.prepare(QLatin1String(kInsert) +
                  QStringLiteral("SELECT ?, ?, ?, ?, ?, ? WHERE NOT EXISTS (SELECT 1 FROM "
                                 "T_HISTORY WHERE date_str = ? AND begin_time = ? AND "
                                 "usb_port = ? AND image_file = ? AND used_seconds = ? AND "
                                 "burn_result = ?)"));
    for (const HistoryRecord &record : records) {
        const qint64 begin = record.beginTime.toSecsSinceEpoch();
        const QVariantList values{nonNull(record.usbPort), nonNull(record.imageFile), begin,
                                  dateOf(begin), record.usedSeconds, record.result == 1 ? 1 : 0};
        for (const QVariant &value : values)
            query.addBindValue(value);
        for (const QVariant &value : {values[3], values[2], values[0], values[1], values[4],
                                      values[5]})
            query.addBindValue(value);
        if (!query.exec()) {
            noteError(query.lastError());
            qCritical() << "Insert data failed" << query.lastError();
            m_db.rollback();
            return false;
        }
    }
    if (!m_db.commit()) {
        noteError(m_db.lastError());
        qCritical() << "Insert data failed" << m_db.lastError();
        m_db.rollback();
        return false;
    }
    return true;
}

// Callers remove the deleted burns' logs next: the deletion is pushed to the
// disk first, so a power cut cannot bring back rows whose logs are gone.
static int runDelete(QSqlQuery &query, const QString &fileName)
{
    if (!query.exec()) {
        qCritical() << "Delete history failed:" << query.lastError();
        return -1;
    }
    HistoryDatabase::syncLogToDisk(fileName);
    return query.numRowsAffected();
}

int HistoryDatabase::deleteHistory(int id)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM T_HISTORY WHERE id = ?"));
    query.addBindValue(id);
    const int deleted = runDelete(query, m_fileName);
    if (deleted >= 0)
        qDebug() << "Delete history:" << id;
    return deleted;
}

int HistoryDatabase::deleteHistoryAfter(const QString &date)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("DELETE FROM T_HISTORY WHERE date_str > ?"));
    query.addBindValue(nonNull(date));
    return runDelete(query, m_fileName);
}

HistoryRecord HistoryDatabase::historyById(int id) const
{
    QSqlQuery query(m_db);
    query.prepare(QLatin1String(kSelectColumns) + QStringLiteral("WHERE id = ?"));
    query.addBindValue(id);
    if (query.exec() && query.next())
        return recordFrom(query, m_localTime);
    return HistoryRecord();
}

static QList<HistoryRecord> recordsFrom(QSqlQuery &query, LocalTimeCache &localTime)
{
    QList<HistoryRecord> records;
    if (!query.exec())
        return records;
    while (query.next())
        records.append(recordFrom(query, localTime));
    return records;
}

QList<HistoryRecord> HistoryDatabase::historyOfDate(const QString &date) const
{
    QSqlQuery query(m_db);
    query.prepare(QLatin1String(kSelectColumns) +
                  QStringLiteral("WHERE date_str = ? ORDER BY begin_time DESC"));
    query.addBindValue(nonNull(date));
    return recordsFrom(query, m_localTime);
}

QList<HistoryRecord> HistoryDatabase::historyPage(const QString &date, qint64 afterBegin,
                                                  int afterId, int limit, bool *ok) const
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    QString where = QStringLiteral("WHERE date_str = ? ");
    if (afterBegin >= 0)
        where += QStringLiteral("AND (begin_time < ? OR (begin_time = ? AND id < ?)) ");
    if (!query.prepare(QLatin1String(kSelectColumns) + where +
                       QStringLiteral("ORDER BY begin_time DESC, id DESC LIMIT ?"))) {
        noteError(query.lastError());
        if (ok)
            *ok = false;
        return {};
    }
    query.addBindValue(nonNull(date));
    if (afterBegin >= 0) {
        query.addBindValue(afterBegin);
        query.addBindValue(afterBegin);
        query.addBindValue(afterId);
    }
    query.addBindValue(limit);
    QList<HistoryRecord> page = recordsFrom(query, m_localTime);
    const bool read = !query.lastError().isValid();
    if (!read)
        noteError(query.lastError());
    if (ok)
        *ok = read;
    return page;
}

bool HistoryDatabase::visitHistory(const QString &date,
                                   const std::function<bool(const HistoryRecord &)> &visit) const
{
    QSqlError error;
    const bool read = visitHistory(m_db, date, visit, &error);
    if (error.isValid())
        noteError(error);
    return read;
}

bool HistoryDatabase::visitHistory(const QSqlDatabase &db, const QString &date,
                                   const std::function<bool(const HistoryRecord &)> &visit,
                                   QSqlError *error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (date.isEmpty()) {
        query.prepare(QLatin1String(kSelectColumns) + QStringLiteral("ORDER BY begin_time, id"));
    } else {
        query.prepare(QLatin1String(kSelectColumns) +
                      QStringLiteral("WHERE date_str = ? ORDER BY begin_time, id"));
        query.addBindValue(date);
    }
    if (!query.exec()) {
        *error = query.lastError();
        return false;
    }
    LocalTimeCache localTime;
    while (query.next()) {
        if (!visit(recordFrom(query, localTime)))
            return false;
    }
    // A read that broke off midway (the file damaged meanwhile) is no whole export.
    *error = query.lastError();
    return !error->isValid();
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
