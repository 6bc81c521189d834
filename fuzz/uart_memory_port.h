#pragma once
// A serial line made of fixed bytes, for driving the serial transport without
// a port: reads take the bytes in order and fail once they are used up (so a
// receive ends at once instead of waiting out its deadline); written bytes
// are kept. Nothing counts as already waiting, so discarding drops nothing.

#include "uart_port.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct MemoryLine {
    const uint8_t *data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    std::vector<uint8_t> written;
};

// Ops over a MemoryLine passed as the port; closing leaves the line alone.
const uart_port_ops *memory_line_ops();
