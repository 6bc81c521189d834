#pragma once
// The worker's hook for the upgrade library's diagnostics, installed with
// zelupg_set_log_hook (and its filter with zelupg_set_log_filter) once the
// library is initialised.

// Forwards one library message into the worker's log under the "default"
// category: -1 and 7 as debug (7 only while the "is_verbose" setting is on,
// asked anew for every message), 6 as info, 1, 4 and 5 as warning, 0, 2 and 3
// as critical. Levels outside -1..7 are dropped. The text is UTF-8.
int libraryLogHook(int level, const char *text);

// Whether libraryLogHook would forward a message of this level, asking the
// "is_verbose" setting for debug messages. As the library's filter it keeps
// the library from formatting the many debug lines of a burn nobody sees.
int libraryLogWanted(int level);
