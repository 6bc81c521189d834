#include "fuzz_support.h"

#include "zelupg_log.h"

#include <dirent.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int g_fd = -1;
char g_path[64];
std::string g_scratch;

int readEveryLine(int level, const char *text)
{
    volatile size_t length = std::strlen(text) + size_t(level + 1);
    (void)length;
    return 0;
}

} // namespace

void fuzz_setup()
{
    if (g_fd >= 0)
        return;
    zelupg_set_log_hook(readEveryLine);
    if (!std::freopen("/dev/null", "w", stdout))
        std::abort();
    g_fd = memfd_create("zel-fuzz-image", 0);
    if (g_fd < 0)
        std::abort();
    std::snprintf(g_path, sizeof(g_path), "/proc/self/fd/%d", g_fd);
    char pattern[] = "/tmp/zel-fuzz-XXXXXX";
    if (!mkdtemp(pattern))
        std::abort();
    g_scratch = pattern;
    std::atexit([] {
        fuzz_clear_scratch();
        rmdir(g_scratch.c_str());
    });
}

const char *fuzz_file(const uint8_t *data, size_t size)
{
    if (ftruncate(g_fd, 0) != 0 || (size && pwrite(g_fd, data, size, 0) != ssize_t(size)))
        std::abort();
    return g_path;
}

const char *fuzz_scratch_dir()
{
    return g_scratch.c_str();
}

void fuzz_clear_scratch()
{
    DIR *dir = opendir(g_scratch.c_str());
    if (!dir)
        return;
    while (dirent *entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        unlink((g_scratch + "/" + entry->d_name).c_str());
    }
    closedir(dir);
}
