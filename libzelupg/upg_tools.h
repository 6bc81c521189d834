#pragma once
// Developer tools of the library. Unlike the rest of the library
// these print to standard output; their failures go through the log hook.

#include <cstddef>
#include <cstdint>

// Prints "<label> @ 0x<address>", then the bytes as "%02X ", 16 per line,
// each line starting with "\n0x<address> "; ends with a newline.
void upg_dump_hex(const char *label, const void *data, size_t count);

// Port path text "Bus:Port <bus>:<p1>-<p2>-...": the path stops at its first
// 0 entry or after the seventh number (or after len numbers). The caller
// appends its own tail. upg_format_port_path writes it into buf (always
// NUL-terminated, cut to bufsize) and returns buf; upg_print_port_path prints
// it to standard output without a newline.
char *upg_format_port_path(char *buf, size_t bufsize, uint8_t bus, const uint8_t *ports, int len);
void upg_print_port_path(uint8_t bus, const uint8_t *ports, int len);

// Prints the image header and FWC table. Checks the magic, the length rule
// 2048 + meta size + file size + ex size and the table bound
// (IMAGE_MAX_FWC_COUNT entries). 0 after printing, -1 on failure
// (also when an entry's bytes lie past the end of the file; it is still printed).
int image_display_info(const char *path);

// Writes every FWC into a file named as the FWC in the current directory
// (image_extract) or in outdir (image_extract_to; null means the current
// directory). Names that are not plain file names ("/", "\\", "..", ":",
// empty) are refused like a file that cannot be created: error, result -1,
// stop; so is a symbolic link or any other non-regular file found where an
// output file goes (it is never written through). 0 when every FWC was
// written.
int image_extract(const char *path);
int image_extract_to(const char *path, const char *outdir);
