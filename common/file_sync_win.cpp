#include "file_sync.h"

#include <QFileDevice>
#include <QString>

#include <io.h>
#include <windows.h>

bool syncToDisk(QFileDevice &file)
{
    if (!file.isOpen() || !file.flush())
        return false;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
}

// NTFS journals its folder entries: a file's name is kept with the file.
bool syncFolderOf(const QString &)
{
    return true;
}
