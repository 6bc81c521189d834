#pragma once
// Library diagnostics. The library never prints on its own: every message goes
// through one installable hook, and without a hook it is silent.

#include <cstdarg>

// Syslog-style levels the library uses; -1 is plain operator text without prefix.
enum {
    ZELUPG_LOG_PLAIN = -1,
    ZELUPG_LOG_ERR = 3,
    ZELUPG_LOG_INFO = 6,
    ZELUPG_LOG_DEBUG = 7,
};

typedef int (*zelupg_log_hook)(int level, const char *text);

// Asked before a message is formatted; 0 means nobody would see a message of
// this level, so it is dropped without being formatted.
typedef int (*zelupg_log_filter)(int level);

// Stores the hook; null switches library logging off.
void zelupg_set_log_hook(zelupg_log_hook hook);

// Stores the filter; null hands every message to the hook.
void zelupg_set_log_filter(zelupg_log_filter filter);

// Formats "<func>()<line>: " padded to 40 columns, then the message, into a
// 1024-byte line and hands it to the hook. A null func means no prefix.
// Returns the length the message formatting produced, 0 when there is no
// hook or the filter drops the message.
int zelupg_log(int level, const char *func, int line, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));

// The message of a line the library formatted: what follows its
// "<func>()<line>: " prefix and padding, or the whole line without a prefix.
const char *zelupg_log_message(const char *line);

#define upg_err(...) zelupg_log(ZELUPG_LOG_ERR, __func__, __LINE__, __VA_ARGS__)
#define upg_info(...) zelupg_log(ZELUPG_LOG_INFO, __func__, __LINE__, __VA_ARGS__)
#define upg_dbg(...) zelupg_log(ZELUPG_LOG_DEBUG, __func__, __LINE__, __VA_ARGS__)
#define upg_plain(...) zelupg_log(ZELUPG_LOG_PLAIN, nullptr, 0, __VA_ARGS__)
// For messages that must carry another function's name than the caller's.
#define upg_err_as(name, ...) zelupg_log(ZELUPG_LOG_ERR, name, __LINE__, __VA_ARGS__)
#define upg_info_as(name, ...) zelupg_log(ZELUPG_LOG_INFO, name, __LINE__, __VA_ARGS__)
#define upg_dbg_as(name, ...) zelupg_log(ZELUPG_LOG_DEBUG, name, __LINE__, __VA_ARGS__)
