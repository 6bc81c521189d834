// Windows: a file in the user's temporary folder opened for writing without
// sharing it for writing. The system closes the handle when its process ends,
// however it ends, and the next console can open it again.
#include "single_instance.h"

#include <QCoreApplication>
#include <QDir>

#include <windows.h>

namespace
{

QString lockPath()
{
    return QDir(QDir::tempPath()).filePath(QStringLiteral("veldmark-console.lock"));
}

SingleInstance::Holder readHolder(const QString &path)
{
    SingleInstance::Holder holder;
    for (int attempt = 0; attempt < 20 && holder.pid == 0; ++attempt) {
        if (attempt > 0)
            Sleep(25);
        HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        char buffer[4096];
        DWORD n = 0;
        if (ReadFile(file, buffer, sizeof(buffer), &n, nullptr) && n > 0) {
            const QString text = QString::fromUtf8(buffer, int(n));
            holder.pid = text.section(QLatin1Char('\n'), 0, 0).toLongLong();
            holder.folder = text.section(QLatin1Char('\n'), 1, 1);
        }
        CloseHandle(file);
    }
    return holder;
}

} // namespace

SingleInstance::~SingleInstance()
{
    if (m_lock != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_lock));
}

bool SingleInstance::acquire()
{
    if (m_lock != -1)
        return true;
    const QString path = lockPath();
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION) {
            m_heldElsewhere = true;
            m_holder = readHolder(path);
            m_error = QStringLiteral("another console holds \"%1\"").arg(path);
        } else {
            m_error = QStringLiteral("cannot open \"%1\": error %2").arg(path).arg(error);
        }
        return false;
    }
    const QByteArray me = QByteArray::number(QCoreApplication::applicationPid()) + '\n'
                          + QDir::currentPath().toUtf8() + '\n';
    DWORD written = 0;
    SetEndOfFile(file);
    WriteFile(file, me.constData(), DWORD(me.size()), &written, nullptr);
    m_lock = reinterpret_cast<qintptr>(file);
    m_holder = {QCoreApplication::applicationPid(), QDir::currentPath()};
    return true;
}
