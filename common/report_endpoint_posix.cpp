#include "report_endpoint_posix.h"

#include <QCryptographicHash>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
QString describe(const QByteArray &dir, const QString &problem)
{
    return QLatin1Char('"') + QString::fromLocal8Bit(dir) + QStringLiteral("\" ") + problem;
}

QString lastError(const char *what)
{
    return QLatin1String(what) + QString::fromLocal8Bit(std::strerror(errno));
}

// A folder we own and nobody else can enter or write, made when missing. A
// folder someone else made first, or one open to others, is refused: whoever
// could write there could take the console's place.
bool isPrivateFolder(const QByteArray &dir, bool create, QString *error)
{
    if (create && ::mkdir(dir.constData(), 0700) != 0 && errno != EEXIST) {
        *error = describe(dir, lastError("cannot be created: "));
        return false;
    }
    struct stat st;
    if (::lstat(dir.constData(), &st) != 0) {
        *error = describe(dir, lastError("cannot be used: "));
        return false;
    }
    if (!S_ISDIR(st.st_mode))
        *error = describe(dir, QStringLiteral("is not a folder"));
    else if (st.st_uid != ::getuid())
        *error = describe(dir, QStringLiteral("belongs to another user"));
    else if ((st.st_mode & 077) != 0)
        *error = describe(dir, QStringLiteral("is open to other users (mode %1)")
                                   .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0')));
    else
        return true;
    return false;
}

QByteArray homeFolder()
{
    const char *home = std::getenv("HOME");
    if (home && *home)
        return QByteArray(home);
    const passwd *entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? QByteArray(entry->pw_dir) : QByteArray();
}

// The user's cache folder: XDG_CACHE_HOME when it names an absolute path
// (relative ones are invalid and ignored), else ~/.cache. Empty without a home.
QByteArray cacheFolder()
{
    const char *cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return QByteArray(cache);
    const QByteArray home = homeFolder();
    return home.isEmpty() ? QByteArray() : home + "/.cache";
}

}  // namespace

// The session's runtime folder when it is private; otherwise a folder below
// the user's cache folder, where no other user can create anything first.
QByteArray privateRuntimeFolder(QString *error)
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    QString ignored;
    if (runtime && *runtime && isPrivateFolder(QByteArray(runtime), false, &ignored))
        return QByteArray(runtime);
    const QByteArray cache = cacheFolder();
    if (cache.isEmpty()) {
        *error = QStringLiteral("no runtime folder and no home folder for the report socket");
        return QByteArray();
    }
    if (::mkdir(cache.constData(), 0700) != 0 && errno != EEXIST) {
        *error = describe(cache, lastError("cannot be created: "));
        return QByteArray();
    }
    const QByteArray folder = cache + "/zel-reports";
    return isPrivateFolder(folder, true, error) ? folder : QByteArray();
}

QByteArray reportSocketPath(const QString &windowTitle, QString *error)
{
    QString problem;
    const QByteArray dir = privateRuntimeFolder(&problem);
    QByteArray path;
    if (!dir.isEmpty()) {
        const QByteArray digest =
            QCryptographicHash::hash(windowTitle.toUtf8(), QCryptographicHash::Sha1)
                .toHex()
                .left(16);
        path = dir + "/zel-console-" + digest + ".sock";
        if (static_cast<size_t>(path.size()) >= sizeof(sockaddr_un::sun_path)) {
            problem = describe(path, QStringLiteral("is too long for a local socket"));
            path.clear();
        }
    }
    if (error)
        *error = problem;
    return path;
}
