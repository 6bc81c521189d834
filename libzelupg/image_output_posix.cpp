// POSIX: output files of the image tools are created without following a
// symbolic link in their last component (O_NOFOLLOW), and only regular files
// are written; O_NONBLOCK keeps a FIFO planted in their place from blocking.

#include "image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FILE *image_create_output(const char *path)
{
    const int fd =
        open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    struct stat st;
    FILE *fp = nullptr;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        fp = fdopen(fd, "wb");
    if (!fp)
        close(fd);
    return fp;
}
