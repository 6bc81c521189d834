// POSIX: an flock on a file in the user's private runtime folder. The kernel
// releases it with the last descriptor, which a killed process loses too.
#include "single_instance.h"

#include "report_endpoint_posix.h"

#include <QDir>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{

// The holder writes itself down right after it took the lock: a reader that
// comes in between finds the file empty for a moment.
SingleInstance::Holder readHolder(int fd)
{
    SingleInstance::Holder holder;
    for (int attempt = 0; attempt < 20 && holder.pid == 0; ++attempt) {
        if (attempt > 0)
            QThread::msleep(25);
        char buffer[4096];
        const ssize_t n = ::pread(fd, buffer, sizeof(buffer), 0);
        if (n <= 0)
            continue;
        const QString text = QString::fromUtf8(buffer, static_cast<int>(n));
        holder.pid = text.section(QLatin1Char('\n'), 0, 0).toLongLong();
        holder.folder = text.section(QLatin1Char('\n'), 1, 1);
    }
    return holder;
}

} // namespace

SingleInstance::~SingleInstance()
{
    if (m_lock >= 0)
        ::close(static_cast<int>(m_lock));
}

bool SingleInstance::acquire()
{
    if (m_lock >= 0)
        return true;
    const QByteArray folder = privateRuntimeFolder(&m_error);
    if (folder.isEmpty())
        return false;
    const QByteArray path = folder + "/veldmark-console.lock";
    // Close-on-exec: a worker must not keep the console's lock alive.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = QStringLiteral("cannot open \"%1\": %2")
                      .arg(QString::fromLocal8Bit(path), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        if (reason == EWOULDBLOCK) {
            m_heldElsewhere = true;
            m_holder = readHolder(fd);
            m_error = QStringLiteral("another console holds \"%1\"").arg(QString::fromLocal8Bit(path));
        } else {
            m_error = QStringLiteral("cannot lock \"%1\": %2")
                          .arg(QString::fromLocal8Bit(path),
                               QString::fromLocal8Bit(std::strerror(reason)));
        }
        ::close(fd);
        return false;
    }
    const QByteArray me = QByteArray::number(static_cast<qint64>(::getpid())) + '\n'
                          + QDir::currentPath().toUtf8() + '\n';
    // What a dead holder wrote goes first; the lock holds even if this fails.
    if (::ftruncate(fd, 0) != 0
        || ::pwrite(fd, me.constData(), static_cast<size_t>(me.size()), 0) != me.size())
        m_error = QStringLiteral("cannot write the lock's holder: %1")
                      .arg(QString::fromLocal8Bit(std::strerror(errno)));
    m_lock = fd;
    m_holder = {static_cast<qint64>(::getpid()), QDir::currentPath()};
    return true;
}
