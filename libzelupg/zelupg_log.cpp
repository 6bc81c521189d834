#include "zelupg_log.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {
zelupg_log_hook g_hook = nullptr;
zelupg_log_filter g_filter = nullptr;
constexpr int kLineSize = 1024;
constexpr int kPrefixColumns = 40;
}  // namespace

void zelupg_set_log_hook(zelupg_log_hook hook)
{
    g_hook = hook;
}

void zelupg_set_log_filter(zelupg_log_filter filter)
{
    g_filter = filter;
}

int zelupg_log(int level, const char *func, int line, const char *fmt, ...)
{
    if (!g_hook || (g_filter && !g_filter(level)))
        return 0;

    char buf[kLineSize];
    std::memset(buf, 0, sizeof(buf));
    int used = 0;
    if (func) {
        used = std::snprintf(buf, sizeof(buf), "%s()%d: ", func, line);
        if (used < 0)
            used = 0;
        if (used >= kLineSize)
            used = kLineSize - 1;
        while (used < kPrefixColumns)
            buf[used++] = ' ';
    }

    va_list args;
    va_start(args, fmt);
    int len = std::vsnprintf(buf + used, sizeof(buf) - used, fmt, args);
    va_end(args);

    g_hook(level, buf);
    return len;
}

const char *zelupg_log_message(const char *line)
{
    const char *p = line;
    while (std::isalnum(static_cast<unsigned char>(*p)) || *p == '_')
        p++;
    if (p == line || p[0] != '(' || p[1] != ')' || !std::isdigit(static_cast<unsigned char>(p[2])))
        return line;
    p += 2;
    while (std::isdigit(static_cast<unsigned char>(*p)))
        p++;
    if (*p != ':')
        return line;
    p++;
    while (*p == ' ')
        p++;
    return p;
}
