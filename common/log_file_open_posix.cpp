// POSIX: O_NOFOLLOW refuses a link in the last component; O_NONBLOCK keeps a
// FIFO planted there from blocking the open, and fstat refuses it after.

#include "log_file_open.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

bool openLogFileNoFollow(QFile *file, const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = open(name.constData(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat st;
    // Shared: two burns of the same board and start time append to one file.
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_SH | LOCK_NB) == 0 &&
        file->open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text,
                   QFileDevice::AutoCloseHandle))
        return true;
    close(fd);
    return false;
}

bool logFileInUse(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool inUse = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return inUse;
}
