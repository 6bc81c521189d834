#include "file_seek.h"

#include <sys/types.h>

#include <limits>

static_assert(sizeof(off_t) >= 8, "image offsets need a 64-bit off_t");

bool seekFile(std::FILE *file, quint64 offset)
{
    if (offset > quint64(std::numeric_limits<off_t>::max()))
        return false;
    return fseeko(file, off_t(offset), SEEK_SET) == 0;
}
