// POSIX: O_NOFOLLOW refuses a link in the last component; O_NONBLOCK keeps a
// FIFO planted there from blocking the open, and fstat refuses it after.

#include "log_file_open.h"

#include <QFile>

#include <fcntl.h>
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
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        file->open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text,
                   QFileDevice::AutoCloseHandle))
        return true;
    close(fd);
    return false;
}
