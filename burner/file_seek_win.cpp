#include "file_seek.h"

#include <limits>

bool seekFile(std::FILE *file, quint64 offset)
{
    if (offset > quint64(std::numeric_limits<__int64>::max()))
        return false;
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}
