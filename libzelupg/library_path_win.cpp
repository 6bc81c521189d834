// Windows: the library opens files through the ANSI code page (GB2312 on a
// Chinese system).

#include "ansi_path_win.h"
#include "firmware_image.h"

std::string toLibraryPath(const QString &path)
{
    return toAnsiCodePage(path.toStdWString());
}
