#pragma once
// Shared pieces of the fuzz targets: the readers take file paths, so each
// input is written into an in-memory file and handed over by its /proc path.

#include <cstddef>
#include <cstdint>

// Once per process: library log hook that reads every line (so formatting is
// exercised), standard output to /dev/null, a scratch folder for extraction.
void fuzz_setup();

// Replaces the in-memory file's contents with the input; returns its path.
const char *fuzz_file(const uint8_t *data, size_t size);

// The scratch folder; fuzz_clear_scratch removes every file in it.
const char *fuzz_scratch_dir();
void fuzz_clear_scratch();
