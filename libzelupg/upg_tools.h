#pragma once
// Developer tools of the library. Unlike the rest of the library
// these print to standard output; their failures go through the log hook.

#include <cstddef>
#include <cstdint>

// Prints "<label> @ 0x<address>", then the bytes as "%02X ", 16 per line,
// each line starting with "\n0x<address> "; ends with a newline.
void upg_dump_hex(const char *label, const void *data, size_t count);

// Port path text "Bus:Port <port text>", e.g. "Bus:Port 1:2:4" (the port
// text zelflash -p takes, see upg_port_text.h): the path stops at its first
// 0 entry or after the seventh number (or after len numbers). Written into
// buf (always NUL-terminated, cut to bufsize); returns buf. Callers log it
// with their own tail.
char *upg_format_port_path(char *buf, size_t bufsize, uint8_t bus, const uint8_t *ports, int len);

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
