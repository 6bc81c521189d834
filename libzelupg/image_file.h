#pragma once
// Internal helpers shared by the image readers and tools: 64-bit file length,
// positioned reads, the magic and bounds checks. Not part of the library's API.

#include "image_format.h"

#include <cstdint>
#include <cstdio>

// Length of an open file, or false when it cannot be taken.
bool image_file_length(FILE *fp, uint64_t *length);

// Reads exactly count bytes at offset; false on a seek error or short read.
bool image_read_at(FILE *fp, uint64_t offset, void *buf, size_t count);

// Compares the first 7 raw header bytes with "ZEL.FW" and its NUL.
bool image_magic_ok(const uint8_t *raw);

// True when the entry's bytes lie inside a file of the given length.
bool image_fwc_in_file(const fwc_meta *meta, uint64_t file_length);

// Entry count of a table of meta_size bytes into *count; false, after an error
// under the caller's name, when it exceeds IMAGE_MAX_FWC_COUNT.
bool image_fwc_count(uint32_t meta_size, const char *caller, uint32_t *count);

// Creates (or truncates) an output file of the image tools for writing in
// binary mode. Null when it cannot be created, and when a symbolic link or
// anything but a regular file stands at path: the tools never write through
// a link they find in their output folder.
FILE *image_create_output(const char *path);

// image_fwc_in_file, logging "Error, FWC <index> ... runs past the end of the
// file." under the caller's name when it is not.
bool image_fwc_check_in_file(const fwc_meta *meta, int index, uint64_t file_length,
                             const char *caller);

// Reads the count 512-byte entries of the FWC table behind the header into a
// new buffer (the caller frees it); null, after a message under the caller's
// name, on failure, and null without a message when count is 0.
uint8_t *image_read_table(FILE *fp, uint32_t count, const char *caller);
