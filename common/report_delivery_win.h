#pragma once
// Windows delivery of one worker report: the top-level window titled exactly
// `title` receives WM_COPYDATA with the kind in dwData and the payload bytes,
// and the call returns once the window has handled it (SendMessageW). Plain
// C++ below any Qt type.

#include <cstddef>
#include <cstdint>

// False when no window has the title: the report is then dropped.
bool deliverReportToWindow(const wchar_t *title, uint32_t kind, const char *payload, size_t size);
