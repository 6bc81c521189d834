// Windows: the file is opened without following a reparse point (a symbolic
// link or junction planted in its place); folders, devices and pipes are
// refused before the handle becomes a C runtime descriptor for QFile. The
// handle shares reading, writing and deletion, but not an exclusive open:
// that is how the log purge tells a log still being written.

#include "log_file_open.h"

#include <QFile>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

bool openLogFileNoFollow(QFile *file, const QString &path)
{
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()),
                    FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK &&
                         GetFileInformationByHandle(handle, &info) &&
                         !(info.dwFileAttributes &
                           (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
    if (!regular) {
        CloseHandle(handle);
        return false;
    }
    // Binary: QFile's text mode already writes the line ends.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_APPEND | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    if (file->open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text,
                   QFileDevice::AutoCloseHandle))
        return true;
    _close(fd);
    return false;
}

// A writer holds its log open with write access: an open that shares nothing
// is then refused with a sharing violation. Reading asks for data access, as
// the sharing check needs; a link is looked at, never followed.
bool logFileInUse(const QString &path)
{
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ, 0,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}
