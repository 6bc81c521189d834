// Linux: the library opens files with the native file-name bytes (UTF-8).

#include "firmware_image.h"

#include <QFile>

std::string toLibraryPath(const QString &path)
{
    const QByteArray bytes = QFile::encodeName(path);
    return std::string(bytes.constData(), size_t(bytes.size()));
}
