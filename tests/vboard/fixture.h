// Test fixture: a libusb context over the in-process bus, and helpers to
// open a board the way a host would.
#pragma once

#include "raw_host.h"
#include "vboard_host.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <zlib.h>

namespace vbtest {

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vboard::removeAll();
        unsetenv(vboard::kFarmEnv); // these tests use the in-process bus
        ASSERT_EQ(libusb_init(&host.ctx), 0);
    }
    void TearDown() override
    {
        closeBoard();
        libusb_exit(host.ctx);
        vboard::removeAll();
    }

    // Opens the device at `pos` from the device list and claims interface 0.
    bool openAt(const vboard::UsbPosition &pos)
    {
        closeBoard();
        libusb_device **list = nullptr;
        const ssize_t n = libusb_get_device_list(host.ctx, &list);
        for (ssize_t i = 0; i < n && !host.h; i++) {
            uint8_t ports[7] = {};
            const int k = libusb_get_port_numbers(list[i], ports, 7);
            if (libusb_get_bus_number(list[i]) != pos.bus || k != int(pos.ports.size()) ||
                !std::equal(pos.ports.begin(), pos.ports.end(), ports))
                continue;
            if (libusb_open(list[i], &host.h) != 0)
                host.h = nullptr;
        }
        libusb_free_device_list(list, 1);
        if (!host.h)
            return false;
        if (libusb_claim_interface(host.h, 0) != 0) {
            closeBoard();
            return false;
        }
        return true;
    }

    void closeBoard()
    {
        if (host.h) {
            libusb_release_interface(host.h, 0);
            libusb_close(host.h);
            host.h = nullptr;
        }
    }

    vboard::DeviceId addBoard(vboard::BoardConfig c = vboard::BoardConfig())
    {
        const vboard::DeviceId id = vboard::addBoard(c);
        EXPECT_NE(id, vboard::kNoDevice);
        return id;
    }

    // Meta entry, block size, data start, data padded to the block size in
    // packets of `packet`, closing response; true when all were accepted.
    bool burnData(const std::string &name, const rawhost::Bytes &data, size_t packet,
                  uint32_t *block = nullptr, const std::string &attributes = "burn run")
    {
        uint8_t st = 0xff;
        uint32_t dlen = 0, bs = 0;
        if (!host.command(0x10, 512, {rawhost::fwcEntry(name, uint32_t(data.size()), crcOf(data),
                                                       attributes)},
                          &st, &dlen) ||
            st != 0)
            return false;
        if (!host.query32(0x11, &st, &bs) || st != 0 || bs == 0)
            return false;
        if (block)
            *block = bs;
        rawhost::Bytes padded = data;
        padded.resize((data.size() + bs - 1) / bs * bs, 0);
        if (!host.sendFwcData(uint32_t(data.size()), padded, packet))
            return false;
        return host.response(&st, &dlen) && st == 0;
    }

public:
    static uint32_t crcOf(const rawhost::Bytes &b)
    {
        return uint32_t(crc32(0, b.data(), uInt(b.size())));
    }

    static rawhost::Bytes pattern(size_t n, uint32_t seed = 1)
    {
        rawhost::Bytes b(n);
        uint32_t x = seed * 2654435761u + 1;
        for (size_t i = 0; i < n; i++) {
            x = x * 1103515245u + 12345u;
            b[i] = uint8_t(x >> 16);
        }
        return b;
    }

    static vboard::UsbPosition pos(const std::string &text)
    {
        vboard::UsbPosition p;
        EXPECT_TRUE(vboard::UsbPosition::parse(text, &p)) << text;
        return p;
    }

protected:
    rawhost::Host host;
};

} // namespace vbtest
