#pragma once
// Positioning an image file opened with the C library at any 64-bit offset
// (the C library's own fseek takes a long, 32 bits on Windows).

#include <QtGlobal>

#include <cstdio>

bool seekFile(std::FILE *file, quint64 offset);
