#pragma once
// The byte-stream boundary under the serial transport. The platform layer
// supplies the real port (uart_port_posix.cpp, later a Windows file); tests
// and fuzz targets may supply ports of their own.

#include "libuart.h"

#include <cstdint>

struct uart_port_ops {
    // Writes len bytes. Returns the count written, or -1 on an error.
    int (*write)(void *port, const uint8_t *data, int len);
    // Reads up to len bytes under the port's own time-outs (50 ms plus 10 ms
    // per byte). Returns the count read (0 on time-out), or -1 on an error.
    int (*read)(void *port, uint8_t *buf, int len);
    // Waits until count bytes are waiting to be read or timeout_ms has passed.
    // Returns 1 when they are waiting, 0 otherwise, -1 on an error.
    int (*wait_input)(void *port, int count, int timeout_ms);
    // Drops every byte already received and not yet read.
    void (*discard_input)(void *port);
    void (*close)(void *port);
};

// The platform's serial port: opens port_name with the line settings
// (115200 8N1, both directions purged). Null, after logging why, on failure.
void *uart_port_open(const char *port_name);
const uart_port_ops *uart_port_platform_ops(void);

// Milliseconds of a monotonic clock, for deadlines and the re-check period.
uint64_t uart_now_ms(void);
void uart_sleep_ms(int ms);

// A connection over an already open port (owned by the connection from then
// on). With manage set the manager thread starts and the state is
// Detecting; without it no thread runs and the state is Connected, for ports
// whose far end needs no handshake checks.
libuart_conn *libuart_open_port(const uart_port_ops *ops, void *port, libuart_state_cb cb,
                                bool manage);
