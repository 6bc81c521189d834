#include "report_endpoint_posix.h"

#include <QCryptographicHash>

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A directory we own and nobody else can enter, created when missing.
bool isPrivateDirectory(const QByteArray &dir, bool create)
{
    if (create && ::mkdir(dir.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    if (::lstat(dir.constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

QByteArray privateDirectory()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime && isPrivateDirectory(QByteArray(runtime), false))
        return QByteArray(runtime);
    const QByteArray fallback = "/tmp/zel-reports-" + QByteArray::number(::getuid());
    return isPrivateDirectory(fallback, true) ? fallback : QByteArray();
}
}  // namespace

QByteArray reportSocketPath(const QString &windowTitle)
{
    const QByteArray dir = privateDirectory();
    if (dir.isEmpty())
        return QByteArray();
    const QByteArray digest =
        QCryptographicHash::hash(windowTitle.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return dir + "/zel-console-" + digest + ".sock";
}
