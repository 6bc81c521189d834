// The serial transport over the COM-port API under wine, against a virtual
// serial board on a pseudo-terminal that wine presents as the COM port named
// on the command line (serial_under_wine.sh maps it): the connection
// handshake, a command with long and short frames each way, and a port
// that does not exist.
#include "libuart.h"
#include "upg_device.h"
#include "zelupg_cmd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
std::string g_port;
}

TEST(SerialWin, CommandsTravelInFramesThroughTheComPort)
{
    ASSERT_FALSE(g_port.empty()) << "usage: serial_tests_win COM<n>";
    ASSERT_EQ(libzelupg_init(), 0);
    upg_device *dev = upg_uart_dev_connect(g_port.c_str(), 5000);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(upg_uart_dev_is_connected(dev), UART_STATE_CONNECTED);

    // 2100 bytes: two long frames and short ones, out and back again.
    std::vector<uint8_t> data(2100);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = uint8_t(i * 7 + 3);
    EXPECT_EQ(zelupg_cmd_write(dev, 0x40000000, data.data(), uint32_t(data.size())), 2100);
    std::vector<uint8_t> back(data.size());
    EXPECT_EQ(zelupg_cmd_read(dev, 0x40000000, back.data(), uint32_t(back.size())), 2100);
    EXPECT_EQ(back, data);
    upg_uart_dev_close(dev);
    libzelupg_exit();
}

TEST(SerialWin, AComPortThatDoesNotExistGivesNoDevice)
{
    EXPECT_EQ(upg_uart_dev_open("COM250", nullptr), nullptr);
    EXPECT_EQ(upg_uart_dev_open("ttyS0", nullptr), nullptr);
}

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc > 1)
        g_port = argv[1];
    return RUN_ALL_TESTS();
}
