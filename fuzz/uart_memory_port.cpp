#include "uart_memory_port.h"

#include <cstring>

namespace {

int line_write(void *port, const uint8_t *data, int len)
{
    auto *line = static_cast<MemoryLine *>(port);
    line->written.insert(line->written.end(), data, data + len);
    return len;
}

int line_read(void *port, uint8_t *buf, int len)
{
    auto *line = static_cast<MemoryLine *>(port);
    const size_t left = line->size - line->pos;
    if (left == 0)
        return -1;
    const size_t n = left < size_t(len) ? left : size_t(len);
    std::memcpy(buf, line->data + line->pos, n);
    line->pos += n;
    return int(n);
}

int line_wait_input(void *port, int count, int)
{
    auto *line = static_cast<MemoryLine *>(port);
    return line->size - line->pos >= size_t(count) ? 1 : 0;
}

void line_discard_input(void *) {}

void line_close(void *) {}

const uart_port_ops kOps = {line_write, line_read, line_wait_input, line_discard_input, line_close};

}  // namespace

const uart_port_ops *memory_line_ops()
{
    return &kOps;
}
