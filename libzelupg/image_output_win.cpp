// Windows: output files of the image tools are refused when a link (reparse
// point) or a folder stands in their place; otherwise created as usual.

#include "image_file.h"

#include <windows.h>

FILE *image_create_output(const char *path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return nullptr;
    return std::fopen(path, "wb");
}
