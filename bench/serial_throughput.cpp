// Payload throughput of the serial transport against the 115200-baud line's
// bound, on the virtual serial board's pseudo-terminal with its link model.
//
//   serial_throughput [KiB]    (default 64)
//
// Rows: long frames sent (libuart_send), long frames received (a memory read
// of one packet in upgrade mode), and whole packets written and read through
// the packet transport. The bound of a long frame is 1024 payload bytes per
// 1029 frame bytes and one answer byte, each 10 bit times; a row's
// efficiency is its throughput over that bound.
#include "libuart.h"
#include "upg_device.h"
#include "vboard_serial.h"
#include "zelupg_cmd.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr double kLineBytesPerSecond = 115200.0 / 10.0;
constexpr double kLongFrameBound = kLineBytesPerSecond * 1024.0 / (1029.0 + 1.0);

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void row(const char *what, size_t payload, double s, uint64_t lineBytes)
{
    const double rate = double(payload) / s;
    std::printf("| %s | %zu | %.3f | %.0f | %.0f | %.3f | %.3f |\n", what, payload, s, rate,
                kLongFrameBound, rate / kLongFrameBound,
                double(lineBytes) / kLineBytesPerSecond / s);
}

} // namespace

int main(int argc, char **argv)
{
    const size_t kib = argc > 1 ? size_t(std::atoi(argv[1])) : 64;
    const size_t size = kib * 1024;
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; i++)
        data[i] = uint8_t(i * 13 + (i >> 10));

    vboard::SerialConfig config;
    config.board.startInUpgradeMode = true; // packets of up to 65536 bytes
    vboard::SerialBoard board(config);
    if (!board.ok()) {
        std::fprintf(stderr, "serial_throughput: %s\n", board.error().c_str());
        return 1;
    }
    upg_device *dev = upg_uart_dev_connect(board.path().c_str(), 3000);
    if (!dev) {
        std::fprintf(stderr, "serial_throughput: no connection on %s\n", board.path().c_str());
        return 1;
    }
    std::printf("| path | payload bytes | s | bytes/s | long-frame bound bytes/s | efficiency "
                "| line busy |\n|---|---|---|---|---|---|---|\n");

    // Long frames alone, host to board (the board takes them as line data).
    vboard::SerialReport before = board.report();
    auto start = std::chrono::steady_clock::now();
    const int sent = libuart_send(dev->uart, data.data(), int(size));
    double s = seconds(start);
    vboard::SerialReport after = board.report();
    if (sent != int(size)) {
        std::fprintf(stderr, "serial_throughput: sent %d of %zu\n", sent, size);
        return 1;
    }
    row("long frames sent", size, s,
        after.hostBytes - before.hostBytes + after.boardBytes - before.boardBytes);

    // A whole write and read of one packet each: command header, arguments,
    // response and status wrappers around the data.
    const size_t packet = size < 65536 ? size : 65536;
    before = board.report();
    start = std::chrono::steady_clock::now();
    if (zelupg_cmd_write(dev, 0x100000, data.data(), uint32_t(packet)) != int(packet)) {
        std::fprintf(stderr, "serial_throughput: write failed\n");
        return 1;
    }
    s = seconds(start);
    after = board.report();
    row("memory write, one packet", packet, s,
        after.hostBytes - before.hostBytes + after.boardBytes - before.boardBytes);

    std::vector<uint8_t> back(packet);
    before = board.report();
    start = std::chrono::steady_clock::now();
    if (zelupg_cmd_read(dev, 0x100000, back.data(), uint32_t(packet)) != int(packet) ||
        std::vector<uint8_t>(data.begin(), data.begin() + long(packet)) != back) {
        std::fprintf(stderr, "serial_throughput: read failed\n");
        return 1;
    }
    s = seconds(start);
    after = board.report();
    row("memory read, one packet", packet, s,
        after.hostBytes - before.hostBytes + after.boardBytes - before.boardBytes);

    upg_uart_dev_close(dev);
    return 0;
}
