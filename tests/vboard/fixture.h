// Test fixture: a libusb context over the in-process bus, and helpers to
// open a board the way a host would.
#pragma once

#include "raw_host.h"
#include "vboard_host.h"

#include <gtest/gtest.h>

namespace vbtest {

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vboard::removeAll();
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

    rawhost::Host host;
};

} // namespace vbtest
