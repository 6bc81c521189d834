#pragma once
// One connection to the central history in PostgreSQL (libpq): the schema it
// creates when missing, and the one statement a station ships its burns with.
// Every call blocks on the server, so the console uses it from its shipping
// thread only; cancel() alone may be called from another thread.

#include "burn_trace.h"

#include <QList>
#include <QMutex>
#include <QString>

#include <memory>

struct pg_conn;
struct pg_result;
struct pg_cancel;

// The central table, its indexes, and what a row holds: see the README's
// section on many stations.
extern const char kCentralSchema[];

struct PgResultDeleter {
    void operator()(pg_result *result) const;
};
using PgResult = std::unique_ptr<pg_result, PgResultDeleter>;

class CentralLink
{
public:
    // conninfo: a libpq connection string or URI. A connection that is not
    // made within 10 s fails, unless conninfo says otherwise.
    // With createSchema false (readers such as the line report, which may
    // log in without the right to create) the schema is taken as it is.
    explicit CentralLink(const QString &conninfo, bool createSchema = true);
    ~CentralLink();
    CentralLink(const CentralLink &) = delete;
    CentralLink &operator=(const CentralLink &) = delete;

    // Empty where this build has a PostgreSQL client; otherwise why it cannot
    // reach any server.
    static QString unsupportedReason();

    // Connects when not connected, then creates the schema when missing.
    bool open();
    void close();
    bool isOpen() const { return m_conn != nullptr; }
    // The burns in one transaction, in order. A row whose station, store and
    // local id are there already is left as it is, so a row sent twice
    // changes nothing. False (connection closed) when the server refuses.
    bool ship(const QList<BurnTrace> &rows, const QString &storeId);
    // A query with text parameters; null (error() says why) on failure.
    PgResult query(const QString &sql, const QStringList &params = QStringList());
    // The server's last error, one line.
    QString error() const { return m_error; }
    // Breaks off what the connection is waiting for, from any thread.
    void cancel();

private:
    bool exec(const char *sql);
    bool schemaExists();
    void fail(const QString &what);

    QString m_conninfo;
    bool m_createSchema;
    pg_conn *m_conn = nullptr;
    QMutex m_cancelLock;
    pg_cancel *m_cancel = nullptr;
    QString m_error;
};
