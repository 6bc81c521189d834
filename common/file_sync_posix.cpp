#include "file_sync.h"

#include <QFileDevice>

#include <unistd.h>

bool syncToDisk(QFileDevice &file)
{
    return file.isOpen() && file.flush() && fsync(file.handle()) == 0;
}
