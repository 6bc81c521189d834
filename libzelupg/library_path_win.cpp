// Windows: the library opens files through the ANSI code page, GB2312.

#include "firmware_image.h"

std::string toLibraryPath(const QString &path)
{
    return toGb2312Path(path);
}
