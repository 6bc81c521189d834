#pragma once
// The burn history in the SQLite file "data.db" (table T_HISTORY) over Qt's
// default database connection. Failures are logged and answered with -1, an
// empty list or a record with id -1.

#include "history_record.h"

#include <QDate>
#include <QList>
#include <QSqlDatabase>

class QSqlError;

#include <functional>
#include <limits>

// Turns many start times of the same hours into local date-times quickly.
class LocalTimeCache
{
public:
    QDateTime at(qint64 seconds);

private:
    qint64 m_quarter = std::numeric_limits<qint64>::min();
    int m_offset = 0;
};

class HistoryDatabase
{
public:
    // The process's instance over "data.db" in the current directory, opened on
    // first use and destroyed when the application object goes.
    static HistoryDatabase *instance();

    // Opens fileName on the default connection; only one instance may exist at a time.
    explicit HistoryDatabase(const QString &fileName);
    ~HistoryDatabase();
    HistoryDatabase(const HistoryDatabase &) = delete;
    HistoryDatabase &operator=(const HistoryDatabase &) = delete;

    bool isOpen() const;
    // Closes and opens the file again, so a file that was read-only or
    // replaced is taken as it is now. False when it does not open.
    bool reopen();
    // SQLite's own text of the last failure, e.g. "database is locked".
    QString lastError() const { return m_lastError; }
    // The last failure was another program holding the file: it passes.
    bool lastErrorIsBusy() const;
    QString fileName() const { return m_fileName; }
    // Pushes the write-ahead log beside fileName, where rows are committed
    // without waiting for the disk, to the disk on the calling thread; false
    // (logged) when it could not.
    static bool syncLogToDisk(const QString &fileName);
    // When the file was no database and was moved aside: where it went.
    QString setAsidePath() const { return m_setAsidePath; }

    // begin in seconds since 1970 UTC; the row's date is begin's local date.
    // Returns the new row's id, or -1 when the database refused it (logged).
    int insertHistory(const QString &usbPort, const QString &imageFile, qint64 begin,
                      qint64 usedSeconds, bool success);
    // One burn that started at start and ended at end (both local date-times).
    int addHistory(const QString &usbPort, const QString &imageFile, const QDateTime &start,
                   const QDateTime &end, bool success);
    // Stores every record not stored yet, in list order and in one
    // transaction: a record whose port, image, start, duration and result are
    // all found already is the same burn and is skipped. False (nothing
    // stored) when the database refuses any of them.
    bool insertMissing(const QList<HistoryRecord> &records);
    // Number of rows deleted, or -1.
    int deleteHistory(int id);
    // Deletes the rows dated after date ("yyyy-MM-dd"); an empty date deletes every dated row.
    int deleteHistoryAfter(const QString &date);

    HistoryRecord historyById(int id) const;
    // The rows of one day ("yyyy-MM-dd"), newest start first.
    QList<HistoryRecord> historyOfDate(const QString &date) const;
    // Up to limit rows of one day, newest start first, that come after the
    // row (afterBegin, afterId) in that order; afterBegin -1 starts at the newest.
    // *ok (when given) is false when the rows could not be read, e.g. while
    // another program locks the file; lastError() says why.
    QList<HistoryRecord> historyPage(const QString &date, qint64 afterBegin, int afterId,
                                     int limit, bool *ok = nullptr) const;
    // Hands the rows of one day (or of every day for an empty date), earliest
    // start first, one at a time to visit until it answers false. False when
    // the rows cannot be read or visit stopped.
    bool visitHistory(const QString &date,
                      const std::function<bool(const HistoryRecord &)> &visit) const;
    // The same through db, a connection of another thread; *error says why
    // the rows could not be read.
    static bool visitHistory(const QSqlDatabase &db, const QString &date,
                             const std::function<bool(const HistoryRecord &)> &visit,
                             QSqlError *error);
    // Every day that has rows, earliest first.
    QList<QDate> historyDates() const;

private:
    bool open(bool checkDamage = true);
    bool isDamaged();
    void setAside();
    void useWriteAheadLog();
    void createTable();

    QString m_fileName;
    QSqlDatabase m_db;
    void noteError(const QSqlError &error) const;

    mutable LocalTimeCache m_localTime;
    mutable QString m_lastError;
    mutable QString m_lastErrorCode;
    QString m_setAsidePath;
};
