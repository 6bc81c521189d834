// Finding, opening and listing boards on the in-process virtual bus.

#include "vboard_fixture.h"
#include "zelupg_log.h"

#include <libusb.h>

#include <cstring>

namespace {

using UsbAccess = VboardTest;

vboard::DeviceId addBoardAt(const vboard::UsbPosition &pos, uint8_t deviceClass = 0)
{
    vboard::BoardConfig config;
    config.position = pos;
    config.deviceClass = deviceClass;
    vboard::DeviceId id = vboard::addBoard(config);
    EXPECT_NE(id, vboard::kNoDevice) << pos.text();
    return id;
}

bool tableIsClear(const upg_usb_dev_entry *table)
{
    static const upg_usb_dev_entry zero[UPG_DEV_TABLE_SIZE] = {};
    return std::memcmp(table, zero, sizeof(zero)) == 0;
}

TEST_F(UsbAccess, OpensOnlyTheBoardAtTheExactBusAndPath)
{
    const vboard::UsbPosition pos = position(1, {1, 2, 3, 4, 5, 6, 7});
    vboard::DeviceId id = addBoardAt(pos, 0xEF);
    addBoardAt(position(2, {1, 2, 3, 4, 5, 6, 7}));

    std::vector<uint8_t> other = portPath(pos);
    other[6] = 8;
    EXPECT_EQ(upg_usb_dev_open(1, other.data()), nullptr);
    EXPECT_EQ(upg_usb_dev_open(3, portPath(pos).data()), nullptr);
    EXPECT_TRUE(log.lines().empty()) << "not found is silent while open errors are not reported";

    upg_device *dev = openAt(pos);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(dev->transport, uint32_t(UPG_TRANSPORT_USB));
    EXPECT_EQ(dev->ids, 0x667733C3u);
    EXPECT_EQ(dev->dev_addr, vboard::report(id).address);
    EXPECT_EQ(dev->dev_class, 0xEF);
    EXPECT_EQ(dev->ep_in, 0x81);
    EXPECT_EQ(dev->ep_out, 0x01);
    EXPECT_EQ(dev->uart, nullptr);
    uint8_t bus = 0, path[UPG_PORT_PATH_LEN] = {};
    EXPECT_EQ(upg_dev_get_port(dev, &bus, path), 0);
    EXPECT_EQ(bus, 1);
    EXPECT_EQ(std::vector<uint8_t>(path, path + 7), portPath(pos));
    upg_dev_close(dev);
}

TEST_F(UsbAccess, ClosingReleasesTheBoardForTheNextOpen)
{
    const vboard::UsbPosition pos = position(1, {4});
    addBoardAt(pos);
    for (int i = 0; i < 3; i++) {
        upg_device *dev = openAt(pos);
        ASSERT_NE(dev, nullptr) << "open " << i;
        upg_dev_close(dev);
    }
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(UsbAccess, AnyPositionOpensTheFirstBoardOrNothingSilently)
{
    EXPECT_EQ(upg_usb_dev_open(UPG_BUS_ANY, nullptr), nullptr);
    EXPECT_TRUE(log.lines().empty());

    addBoardAt(position(3, {1, 1}), 0x12);
    const uint8_t path[UPG_PORT_PATH_LEN] = {9, 9, 0, 0, 0, 0, 0};
    upg_device *dev = upg_usb_dev_open(UPG_BUS_ANY, path);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(dev->bus, UPG_BUS_ANY);
    EXPECT_EQ(dev->port_path[0], 9) << "the path asked for is kept";
    EXPECT_EQ(dev->ids, 0x667733C3u);
    EXPECT_EQ(dev->ep_in, 0x81);
    EXPECT_EQ(dev->ep_out, 0x01);
    EXPECT_EQ(dev->dev_addr, 0) << "address and class are known only for list-opened boards";
    EXPECT_EQ(dev->dev_class, 0);
    upg_dev_close(dev);
}

TEST_F(UsbAccess, ReportingOpenErrorsExplainsWhyNothingOpened)
{
    upg_set_report_open_errors(1);
    EXPECT_EQ(upg_usb_dev_open(UPG_BUS_ANY, nullptr), nullptr);
    EXPECT_EQ(log.nonDebug(), std::vector<std::string>{"upg_usb_dev_open: USB device not found!"});

    log.clear();
    const std::vector<uint8_t> path = portPath(position(1, {2, 3}));
    // Through the log hook only, never straight to standard output.
    testing::internal::CaptureStdout();
    EXPECT_EQ(upg_usb_dev_open(1, path.data()), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(log.nonDebug(),
              std::vector<std::string>{"upg_usb_dev_open: Bus:Port 1:2:3 not found in device list"});
}

TEST_F(UsbAccess, TheLaterBulkEndpointOfADirectionWins)
{
    vboard::BoardConfig config;
    config.position = position(1, {5});
    config.extraEndpoints = {{0x02, 2, 512}, {0x83, 3, 8}};  // bulk OUT, then interrupt IN
    ASSERT_NE(vboard::addBoard(config), vboard::kNoDevice);
    config.position = position(1, {6});
    config.extraEndpoints = {{0x82, 2, 512}};
    ASSERT_NE(vboard::addBoard(config), vboard::kNoDevice);

    upg_device *two_out = openAt(position(1, {5}));
    ASSERT_NE(two_out, nullptr);
    EXPECT_EQ(two_out->ep_out, 0x02);
    EXPECT_EQ(two_out->ep_in, 0x81) << "an interrupt endpoint is never taken";
    upg_device *two_in = openAt(position(1, {6}));
    ASSERT_NE(two_in, nullptr);
    EXPECT_EQ(two_in->ep_in, 0x82);
    EXPECT_EQ(two_in->ep_out, 0x01);
    upg_dev_close(two_out);
    upg_dev_close(two_in);
}

TEST_F(UsbAccess, ListWithoutBoardsReturnsMinusOneAndTheClearedTable)
{
    vboard::DeviceId id = addBoardAt(position(1, {2}), 0x07);
    vboard::addDevice(vboard::DeviceConfig::hub(position(1, {1})));
    upg_usb_dev_entry *table = nullptr;
    ASSERT_EQ(upg_usb_dev_get_list(&table), 1);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table[0].bus, 1);
    EXPECT_EQ(table[0].port_path[0], 2);
    EXPECT_EQ(table[0].port_path[1], 0);
    EXPECT_EQ(table[0].dev_addr, vboard::report(id).address);
    EXPECT_EQ(table[0].dev_class, 0x07);

    vboard::remove(id);
    upg_usb_dev_entry *again = nullptr;
    EXPECT_EQ(upg_usb_dev_get_list(&again), -1);
    EXPECT_EQ(again, table) << "one library-owned table";
    EXPECT_TRUE(tableIsClear(again));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(UsbAccess, BoardBehindTwentyOtherDevicesIsListed)
{
    for (uint8_t i = 1; i <= 20; i++)
        ASSERT_NE(vboard::addDevice(i % 2 ? vboard::DeviceConfig::hub(position(1, {i}))
                                          : vboard::DeviceConfig::keyboard(position(1, {i}))),
                  vboard::kNoDevice);
    addBoardAt(position(2, {3, 1}));

    upg_usb_dev_entry *table = nullptr;
    ASSERT_EQ(upg_usb_dev_get_list(&table), 1);
    EXPECT_EQ(table[0].bus, 2);
    EXPECT_EQ(table[0].port_path[0], 3);
    EXPECT_EQ(table[0].port_path[1], 1);
}

TEST_F(UsbAccess, ListFillsAtMostSixteenEntries)
{
    std::vector<vboard::DeviceId> ids;
    for (uint8_t i = 1; i <= 17; i++)
        ids.push_back(addBoardAt(position(1 + i / 8, {i, 1})));
    upg_usb_dev_entry *table = nullptr;
    ASSERT_EQ(upg_usb_dev_get_list(&table), 16);
    for (uint8_t i = 0; i < 16; i++) {
        const vboard::BoardReport rep = vboard::report(ids[i]);
        EXPECT_EQ(table[i].bus, rep.position.bus) << int(i);
        EXPECT_EQ(table[i].port_path[0], rep.position.ports[0]) << int(i);
        EXPECT_EQ(table[i].port_path[1], 1) << int(i);
        EXPECT_EQ(table[i].dev_addr, rep.address) << int(i);
    }
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(UsbAccess, PortNumbersAreZeroFilledBehindThePath)
{
    addBoardAt(position(4, {2, 5, 1}));
    libusb_device **list = nullptr;
    ASSERT_GE(libusb_get_device_list(zelupg_usb_context(), &list), 1);
    uint8_t path[UPG_PORT_PATH_LEN];
    std::memset(path, 0xEE, sizeof(path));
    EXPECT_EQ(upg_usb_get_port_numbers(list[0], path, UPG_PORT_PATH_LEN), 3);
    EXPECT_EQ(std::vector<uint8_t>(path, path + 7), (std::vector<uint8_t>{2, 5, 1, 0, 0, 0, 0}));
    libusb_free_device_list(list, 1);
}

TEST_F(UsbAccess, HandleAccessorsToleratesNull)
{
    uint8_t bus, path[UPG_PORT_PATH_LEN];
    EXPECT_EQ(upg_dev_get_port(nullptr, &bus, path), -1);
    EXPECT_EQ(upg_dev_last_error(nullptr), 0);
    upg_dev_close(nullptr);
    addBoardAt(position(1, {1}));
    upg_device *dev = openAt(position(1, {1}));
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(upg_dev_get_port(dev, nullptr, path), -1);
    EXPECT_EQ(upg_dev_get_port(dev, &bus, nullptr), -1);
    upg_dev_close(dev);
}

}  // namespace
