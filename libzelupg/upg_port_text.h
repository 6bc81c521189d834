#pragma once
// Port text: a board's USB position as operators see it, the decimal bus
// number, then ":" and each port number from the root hub down (at most
// seven), for example "1:2:4". The console shows it on a slot and the
// programs find a board by it.

#include <cstddef>
#include <cstdint>

enum {
    // Longest port text with its NUL: "255" and seven ":255".
    UPG_PORT_TEXT_SIZE = 32,
};

// Writes the text of bus and the 7-byte port path (which ends at its first 0)
// into buf, cut to size and always NUL-terminated. Returns buf.
char *upg_port_text(char *buf, size_t size, uint8_t bus, const uint8_t *port_path);

// Parses a port text into bus and a 7-byte port path, zero behind the last
// port. Returns 0, or -1 for anything else: no port, more than seven, empty
// or non-decimal parts, a bus outside 1..254 (255 means "any board") or a
// port outside 1..255.
int upg_port_text_parse(const char *text, uint8_t *bus, uint8_t *port_path);

// Whether a port names a serial port rather than a USB port text: a device
// path ("/dev/ttyUSB0", "/dev/serial/by-id/...", a pseudo-terminal) or "COM"
// and a decimal number, as Windows names them. 1 or 0.
int upg_port_is_serial(const char *text);
