#include "pg_server.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <pwd.h>
#include <unistd.h>

namespace
{

// The newest Debian server installed.
QString serverBinDir()
{
    QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString &a, const QString &b) { return a.toInt() < b.toInt(); });
    return versions.isEmpty() ? QString()
                              : QStringLiteral("/usr/lib/postgresql/%1/bin").arg(versions.last());
}

// The server refuses to run as root.
const passwd *serverUser()
{
    return geteuid() == 0 ? getpwnam("postgres") : nullptr;
}

} // namespace

PgServer::PgServer() : m_binDir(serverBinDir())
{
    if (const passwd *user = serverUser()) {
        // QTemporaryDir is private to root: the server's user owns it instead.
        if (chown(QFile::encodeName(m_dir.path()).constData(), user->pw_uid, user->pw_gid) != 0)
            m_error = QStringLiteral("cannot hand the folder to postgres");
    }
}

PgServer::~PgServer()
{
    stop();
}

bool PgServer::run(const QString &tool, const QStringList &args)
{
    QProcess process;
    // Sanitizer and test-library settings of the test are no business of the server.
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QString program = QDir(m_binDir).filePath(tool);
    if (const passwd *user = serverUser())
        process.start(QStringLiteral("/usr/sbin/runuser"),
                      QStringList{QStringLiteral("-u"), QString::fromLocal8Bit(user->pw_name),
                                  QStringLiteral("--"), program} + args);
    else
        process.start(program, args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_error = tool + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}

bool PgServer::start()
{
    if (m_running)
        return true;
    if (m_binDir.isEmpty()) {
        m_error = QStringLiteral("no PostgreSQL server below /usr/lib/postgresql");
        return false;
    }
    const QString data = m_dir.filePath(QStringLiteral("data"));
    if (!m_created) {
        if (!run(QStringLiteral("initdb"), {QStringLiteral("-D"), data, QStringLiteral("-U"),
                                             QStringLiteral("veldmark"), QStringLiteral("-A"),
                                             QStringLiteral("trust"), QStringLiteral("-E"),
                                             QStringLiteral("UTF8"), QStringLiteral("--no-sync")}))
            return false;
        m_created = true;
    }
    const QString options = QStringLiteral("-k %1 -p 5432 -c listen_addresses='' -c fsync=off")
                                .arg(m_dir.path());
    m_running = run(QStringLiteral("pg_ctl"),
                    {QStringLiteral("start"), QStringLiteral("-w"), QStringLiteral("-D"), data,
                     QStringLiteral("-l"), m_dir.filePath(QStringLiteral("server.log")),
                     QStringLiteral("-o"), options});
    return m_running;
}

bool PgServer::stop()
{
    if (!m_running)
        return true;
    m_running = !run(QStringLiteral("pg_ctl"),
                     {QStringLiteral("stop"), QStringLiteral("-w"), QStringLiteral("-m"),
                      QStringLiteral("fast"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data"))});
    return !m_running;
}

QString PgServer::url(const QString &user) const
{
    return QStringLiteral("host=%1 port=5432 dbname=postgres user=%2").arg(m_dir.path(), user);
}
