#pragma once
// The burn history in the SQLite file "data.db" (table T_HISTORY) over Qt's
// default database connection. Failures are logged and answered with -1, an
// empty list or a record with id -1.

#include "history_record.h"

#include <QDate>
#include <QList>
#include <QSqlDatabase>

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

    // begin in seconds since 1970 UTC; the row's date is begin's local date.
    // The new row's id, or -1.
    int insertHistory(const QString &usbPort, const QString &imageFile, qint64 begin,
                       qint64 usedSeconds, bool success);
    // One burn that started at start and ended at end (both local date-times).
    // The new row's id, or -1.
    int addHistory(const QString &usbPort, const QString &imageFile, const QDateTime &start,
                    const QDateTime &end, bool success);
    // Number of rows deleted, or -1.
    int deleteHistory(int id);
    // Deletes the rows dated after date ("yyyy-MM-dd"); an empty date deletes every dated row.
    int deleteHistoryAfter(const QString &date);

    HistoryRecord historyById(int id) const;
    // The rows of one day ("yyyy-MM-dd"), newest start first.
    QList<HistoryRecord> historyOfDate(const QString &date) const;
    // Every row, earliest start first.
    QList<HistoryRecord> allHistory() const;
    // Every day that has rows, earliest first.
    QList<QDate> historyDates() const;

private:
    void useCrashSafeJournal();
    void createTable();

    QSqlDatabase m_db;
};
