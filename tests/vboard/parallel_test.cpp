// Many boards on one bus used from many threads at once, as the worker
// processes of a farm use it.
#include "fixture.h"

#include <algorithm>
#include <chrono>
#include <thread>

using namespace rawhost;

namespace {

class Parallel : public vbtest::BoardTest {};

// Opens and claims the device at bus:port with h's context.
bool claimAt(Host *h, uint8_t bus, uint8_t port)
{
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(h->ctx, &list);
    for (ssize_t k = 0; k < n && !h->h; k++) {
        uint8_t ports[7];
        if (libusb_get_bus_number(list[k]) == bus &&
            libusb_get_port_numbers(list[k], ports, 7) == 1 && ports[0] == port &&
            (libusb_open(list[k], &h->h) != 0 || libusb_claim_interface(h->h, 0) != 0))
            h->h = nullptr;
    }
    libusb_free_device_list(list, 1);
    return h->h != nullptr;
}

TEST_F(Parallel, SixteenBoardsBurnAndRestartAtOnce)
{
    for (int i = 1; i <= 20; i++)
        vboard::addDevice(vboard::DeviceConfig::other(pos("2:" + std::to_string(i)), 0x1234, 1));
    for (int i = 1; i <= 16; i++) {
        vboard::BoardConfig c;
        c.position = pos("1:" + std::to_string(i));
        c.restartDelayMs = 20;
        addBoard(c);
    }
    std::vector<std::string> failures(16);
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; i++) {
        threads.emplace_back([this, i, &failures] {
            Host h;
            h.ctx = host.ctx;
            const std::string where = "1:" + std::to_string(i + 1);
            auto open = [&] { return claimAt(&h, 1, uint8_t(i + 1)); };
            if (!open()) {
                failures[size_t(i)] = where + ": open";
                return;
            }
            const Bytes data = pattern(300000, uint32_t(i));
            uint8_t st = 0;
            uint32_t dlen = 0, bs = 0;
            Bytes padded = data;
            padded.resize((data.size() + 511) / 512 * 512);
            if (!h.command(0x10, 512, {fwcEntry("updater.uboot", uint32_t(data.size()), 0)}, &st, &dlen) ||
                !h.query32(0x11, &st, &bs) || !h.sendFwcData(uint32_t(data.size()), padded, 2048) ||
                h.response(&st, &dlen) || h.lastError != LIBUSB_ERROR_PIPE) {
                failures[size_t(i)] = where + ": loader stage " + h.where;
                return;
            }
            libusb_close(h.h);
            h.h = nullptr;
            for (int tries = 0; tries < 200 && !open(); tries++)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!h.h || h.mode() != 1) {
                failures[size_t(i)] = where + ": not back in upgrade mode";
                return;
            }
            const Bytes target = pattern(1 << 20, uint32_t(i + 100));
            if (!h.command(0x10, 512, {fwcEntry("image.target.rootfs", 1 << 20, 0)}, &st, &dlen) ||
                !h.sendFwcData(1 << 20, target, 65536) || !h.response(&st, &dlen) || st != 0) {
                failures[size_t(i)] = where + ": target " + h.where;
                return;
            }
            uint32_t crc = 0;
            if (!h.query32(0x13, &st, &crc) || crc != crcOf(target))
                failures[size_t(i)] = where + ": crc";
            libusb_close(h.h);
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (const std::string &f : failures)
        EXPECT_TRUE(f.empty()) << f;
    for (int i = 1; i <= 16; i++) {
        const vboard::BoardReport r = vboard::report(vboard::find(pos("1:" + std::to_string(i))));
        EXPECT_EQ(r.restarts, 1);
        ASSERT_EQ(r.fwcs.size(), 2u);
        EXPECT_EQ(r.fwcs[1].crc, crcOf(pattern(1 << 20, uint32_t(i - 1 + 100))));
    }
}

TEST_F(Parallel, BoardsOnOneBusShareItsBandwidth)
{
    // 40 Mbit/s: the two megabytes of two boards need at least 0.42 s from
    // the first claim to the last board's answer, where each board's own link
    // alone would carry its megabyte in 23 ms. Only the last board is bound:
    // the first may have had the bus to itself while the other claimed.
    std::string answer;
    for (const char *where : {"1:1", "1:2"})
        ASSERT_TRUE(vboard::control(std::string("plug board ") + where +
                                        " upgrade=1 link=1 bus_mbps=40",
                                    &answer))
            << answer;
    const double busBytesPerS = 40e6 / 8;
    std::vector<double> seconds(2, 0);
    std::vector<std::string> failures(2);
    std::vector<std::thread> threads;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 2; i++) {
        threads.emplace_back([this, i, t0, &seconds, &failures] {
            Host h;
            h.ctx = host.ctx;
            const Bytes data = pattern(1 << 20, uint32_t(i));
            uint8_t st = 0;
            uint32_t dlen = 0;
            if (!claimAt(&h, 1, uint8_t(i + 1)) ||
                !h.command(0x10, 512, {fwcEntry("image.target.rootfs", 1 << 20, 0)}, &st, &dlen) ||
                !h.sendFwcData(1 << 20, data, 65536) || !h.response(&st, &dlen) || st != 0)
                failures[size_t(i)] = "board " + std::to_string(i + 1) + ": " + h.where;
            seconds[size_t(i)] =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            if (h.h)
                libusb_close(h.h);
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (int i = 0; i < 2; i++)
        EXPECT_TRUE(failures[size_t(i)].empty()) << failures[size_t(i)];
    EXPECT_GE(std::max(seconds[0], seconds[1]), 0.99 * 2 * (1 << 20) / busBytesPerS);
}

} // namespace
