// Fuzz target: frames from a hostile line. The first two input bytes give the
// length the host asks for (little-endian, up to 4095); the rest is what the
// line delivers after the host's DC2. The receive must never store beyond
// the asked length nor report more than it.

#include "fuzz_support.h"
#include "uart_memory_port.h"

#include "libuart.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_setup();
    if (size < 2)
        return 0;
    const int asked = (data[0] | data[1] << 8) & 0xfff;
    MemoryLine line;
    line.data = data + 2;
    line.size = size - 2;
    libuart_conn *conn = libuart_open_port(memory_line_ops(), &line, nullptr, false);
    if (!conn)
        return 0;
    // Exactly the asked size on the heap, so a write past it is caught.
    std::vector<uint8_t> buf(size_t(asked) + (asked == 0));
    const int got = libuart_recv(conn, buf.data(), asked, 10000);
    if (got < 0 || got > asked)
        __builtin_trap();
    libuart_close(conn);
    return 0;
}
