#pragma once
// A real PostgreSQL server for the tests: Debian's initdb and pg_ctl on a
// private folder, reachable only through a socket in that folder. When the
// tests run as root the server runs as the "postgres" user, which the server
// demands.

#include <QString>
#include <QTemporaryDir>

class PgServer
{
public:
    PgServer();
    ~PgServer();
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

    // Creates the cluster on first use, then starts the server and waits for it.
    bool start();
    bool stop();
    // Connection string for user (the cluster's superuser by default).
    QString url(const QString &user = QStringLiteral("veldmark")) const;
    // What went wrong last, with the tool's output.
    QString error() const { return m_error; }

private:
    bool run(const QString &tool, const QStringList &args);

    QTemporaryDir m_dir;
    QString m_binDir;
    bool m_created = false;
    bool m_running = false;
    QString m_error;
};
