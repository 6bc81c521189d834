#pragma once
// The burns' traces in "data.db" beside T_HISTORY (table T_BURN_TRACE), and
// which of them the central history has confirmed. T_HISTORY itself stays as
// it is for the files and tools that read it.

#include "burn_trace.h"
#include "history_record.h"

#include <QList>
#include <QSqlDatabase>
#include <QVector>

class TraceStore
{
public:
    // The process's instance over the history database's connection, created on
    // first use and destroyed when the application object goes.
    static TraceStore *instance();

    // Over an open connection; creates the table when it is missing.
    explicit TraceStore(QSqlDatabase db);

    bool isReady() const { return m_ready; }
    // A random name of this "data.db", made with the table: a station whose
    // file was replaced starts its ids again, and its new rows must not pass
    // for the old ones.
    QString storeId() const { return m_storeId; }

    // Stores the burn; its local id, or -1 (logged).
    qint64 record(const BurnTrace &trace);
    // Rows not yet confirmed by the central history, oldest first, after
    // afterId, at most limit of them.
    QList<BurnTrace> unshipped(qint64 afterId, int limit) const;
    int unshippedCount() const;
    // False (logged) when the mark could not be stored: the rows are then sent
    // again, which the central history ignores.
    bool markShipped(const QVector<qint64> &localIds);
    // Fills in the board trace of each record that has one.
    void attachTraces(QList<HistoryRecord> &records) const;
    // The same through db, a connection of another thread.
    static void attachTraces(const QSqlDatabase &db, QList<HistoryRecord> &records);

private:
    bool createTables();

    QSqlDatabase m_db;
    QString m_storeId;
    bool m_ready = false;
};
