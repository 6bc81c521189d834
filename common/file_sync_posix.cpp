#include "file_sync.h"

#include <QFile>
#include <QFileDevice>
#include <QFileInfo>

#include <fcntl.h>

#include <unistd.h>

bool syncToDisk(QFileDevice &file)
{
    return file.isOpen() && file.flush() && fsync(file.handle()) == 0;
}

bool syncFolderOf(const QString &filePath)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(filePath).absolutePath());
    const int fd = open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}
