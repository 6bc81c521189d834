#pragma once
// The library opens files through the C library's narrow calls, which take
// the system's ANSI code page on Windows (936, a superset of GB2312, on a
// Chinese system). Plain C++ below any Qt type.

#include <string>

// Empty when a character has no form in that code page: such a path cannot
// be opened through the narrow calls at all.
std::string toAnsiCodePage(const std::wstring &path);
