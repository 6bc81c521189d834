// The libusb calls of the test library over the in-process bus.
#include "fixture.h"

#include <poll.h>

using namespace rawhost;

namespace {

class Libusb : public vbtest::BoardTest {};

struct Seen {
    std::vector<std::string> events; // "+1:3" / "-1:3"
};

int LIBUSB_CALL onHotplug(libusb_context *, libusb_device *dev, libusb_hotplug_event ev, void *user)
{
    uint8_t ports[7];
    const int n = libusb_get_port_numbers(dev, ports, 7);
    std::string s = (ev == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? "+" : "-") +
                    std::to_string(libusb_get_bus_number(dev));
    for (int i = 0; i < n; i++)
        s += ":" + std::to_string(ports[i]);
    static_cast<Seen *>(user)->events.push_back(s);
    return 0;
}

TEST_F(Libusb, ListShowsIdentityPositionAndAddress)
{
    vboard::BoardConfig c;
    c.position = pos("3:1:2:3:4:5:6:7");
    c.deviceClass = 0xef;
    addBoard(c);
    libusb_device **list = nullptr;
    ASSERT_EQ(libusb_get_device_list(host.ctx, &list), 1);
    libusb_device_descriptor d;
    ASSERT_EQ(libusb_get_device_descriptor(list[0], &d), 0);
    EXPECT_EQ(d.idVendor, 0x33C3);
    EXPECT_EQ(d.idProduct, 0x6677);
    EXPECT_EQ(d.bDeviceClass, 0xef);
    EXPECT_EQ(libusb_get_bus_number(list[0]), 3);
    uint8_t ports[7] = {};
    EXPECT_EQ(libusb_get_port_numbers(list[0], ports, 7), 7);
    EXPECT_EQ(ports[6], 7);
    EXPECT_EQ(libusb_get_port_numbers(list[0], ports, 6), LIBUSB_ERROR_OVERFLOW);
    EXPECT_GE(libusb_get_device_address(list[0]), 1);
    EXPECT_EQ(list[1], nullptr);
    libusb_free_device_list(list, 1);
}

TEST_F(Libusb, OtherDevicesComeFirstInTheOrderTheyWereAdded)
{
    for (int i = 1; i <= 20; i++)
        ASSERT_NE(vboard::addDevice(vboard::DeviceConfig::other(pos("2:" + std::to_string(i)),
                                                                0x1234, uint16_t(i))),
                  vboard::kNoDevice);
    addBoard();
    libusb_device **list = nullptr;
    ASSERT_EQ(libusb_get_device_list(host.ctx, &list), 21);
    libusb_device_descriptor d;
    libusb_get_device_descriptor(list[20], &d);
    EXPECT_EQ(d.idVendor, 0x33C3) << "the board is the 21st entry";
    libusb_get_device_descriptor(list[0], &d);
    EXPECT_EQ(d.idVendor, 0x1234);
    libusb_free_device_list(list, 1);
}

TEST_F(Libusb, HubsAndKeyboardsOpenButStallTransfers)
{
    ASSERT_NE(vboard::addDevice(vboard::DeviceConfig::hub(pos("1:7"))), vboard::kNoDevice);
    ASSERT_NE(vboard::addDevice(vboard::DeviceConfig::keyboard(pos("1:8"))), vboard::kNoDevice);
    EXPECT_EQ(vboard::addDevice(vboard::DeviceConfig::hub(pos("1:7"))), vboard::kNoDevice)
        << "position taken";
    ASSERT_TRUE(openAt(pos("1:8")));
    libusb_device_descriptor d;
    libusb_get_device_descriptor(libusb_get_device(host.h), &d);
    EXPECT_NE(d.idVendor, 0x33C3);
    uint8_t b[8];
    int n = 0;
    EXPECT_EQ(libusb_bulk_transfer(host.h, 0x81, b, 8, &n, 100), LIBUSB_ERROR_PIPE);
    ASSERT_TRUE(openAt(pos("1:7")));
    libusb_get_device_descriptor(libusb_get_device(host.h), &d);
    EXPECT_EQ(d.bDeviceClass, LIBUSB_CLASS_HUB);
}

TEST_F(Libusb, OpenByVendorAndProduct)
{
    EXPECT_EQ(libusb_open_device_with_vid_pid(host.ctx, 0x33C3, 0x6677), nullptr);
    addBoard();
    libusb_device_handle *h = libusb_open_device_with_vid_pid(host.ctx, 0x33C3, 0x6677);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(libusb_claim_interface(h, 0), 0);
    EXPECT_EQ(libusb_release_interface(h, 0), 0);
    libusb_close(h);
}

TEST_F(Libusb, SecondHandleCannotClaimOrTransfer)
{
    addBoard();
    ASSERT_TRUE(openAt(vboard::UsbPosition()));
    libusb_device_handle *other = libusb_open_device_with_vid_pid(host.ctx, 0x33C3, 0x6677);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(libusb_claim_interface(other, 0), LIBUSB_ERROR_BUSY);
    uint8_t b[31] = {};
    int n = 0;
    EXPECT_EQ(libusb_bulk_transfer(other, 0x01, b, 31, &n, 100), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(libusb_claim_interface(other, 1), LIBUSB_ERROR_NOT_FOUND);
    closeBoard();
    EXPECT_EQ(libusb_claim_interface(other, 0), 0) << "closing released the claim";
    libusb_close(other);
}

TEST_F(Libusb, KernelDriverCalls)
{
    addBoard();
    ASSERT_TRUE(openAt(vboard::UsbPosition()));
    EXPECT_EQ(libusb_set_auto_detach_kernel_driver(host.h, 1), 0);
    EXPECT_EQ(libusb_kernel_driver_active(host.h, 0), 0);
    EXPECT_EQ(libusb_detach_kernel_driver(host.h, 0), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG), 1);
}

TEST_F(Libusb, ErrorNamesAndTexts)
{
    EXPECT_STREQ(libusb_error_name(LIBUSB_ERROR_PIPE), "LIBUSB_ERROR_PIPE");
    EXPECT_STREQ(libusb_error_name(LIBUSB_ERROR_NO_DEVICE), "LIBUSB_ERROR_NO_DEVICE");
    EXPECT_STREQ(libusb_error_name(0), "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED");
    EXPECT_STREQ(libusb_error_name(-1000), "**UNKNOWN**");
    EXPECT_STREQ(libusb_strerror(LIBUSB_ERROR_PIPE), "Pipe error");
    EXPECT_STREQ(libusb_strerror(LIBUSB_ERROR_TIMEOUT), "Operation timed out");
    EXPECT_STREQ(libusb_strerror(LIBUSB_ERROR_OTHER), "Other error");
    EXPECT_STREQ(libusb_strerror(LIBUSB_ERROR_IO), "Input/Output Error");
}

TEST_F(Libusb, UnimplementedCallsFailLoudly)
{
    addBoard();
    ASSERT_TRUE(openAt(vboard::UsbPosition()));
    testing::internal::CaptureStderr();
    uint8_t b[8];
    const int rc = libusb_control_transfer(host.h, 0x80, 6, 0x100, 0, b, 8, 100);
    EXPECT_EQ(libusb_alloc_transfer(0), nullptr);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, LIBUSB_ERROR_NOT_SUPPORTED);
    EXPECT_NE(err.find("libusb_control_transfer is not implemented"), std::string::npos) << err;
    EXPECT_NE(err.find("libusb_alloc_transfer is not implemented"), std::string::npos) << err;
}

TEST_F(Libusb, DefaultContextWorks)
{
    ASSERT_EQ(libusb_init(nullptr), 0);
    addBoard();
    libusb_device **list = nullptr;
    EXPECT_EQ(libusb_get_device_list(nullptr, &list), 1);
    libusb_free_device_list(list, 1);
    libusb_exit(nullptr);
}

TEST_F(Libusb, HotplugThroughThePollableDescriptor)
{
    const vboard::DeviceId early = addBoard();
    Seen seen;
    libusb_hotplug_callback_handle cb = 0;
    ASSERT_EQ(libusb_hotplug_register_callback(
                  host.ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                  LIBUSB_HOTPLUG_ENUMERATE, 0x33C3, 0x6677, LIBUSB_HOTPLUG_MATCH_ANY, onHotplug,
                  &seen, &cb),
              0);
    EXPECT_EQ(seen.events, std::vector<std::string>{"+1:1"}) << "enumerated at registration";
    seen.events.clear();

    const libusb_pollfd **fds = libusb_get_pollfds(host.ctx);
    ASSERT_NE(fds, nullptr);
    ASSERT_NE(fds[0], nullptr);
    struct pollfd p = {fds[0]->fd, fds[0]->events, 0};
    EXPECT_EQ(fds[1], nullptr);
    // Nothing happened since the registration: the descriptor is quiet...
    // except for the arrival of the first board before it, which is drained.
    timeval zero = {0, 0};
    libusb_handle_events_timeout(host.ctx, &zero);
    seen.events.clear();
    EXPECT_EQ(poll(&p, 1, 0), 0);

    vboard::BoardConfig c;
    c.position = pos("1:9");
    const vboard::DeviceId id = addBoard(c);
    ASSERT_TRUE(vboard::addDevice(vboard::DeviceConfig::hub(pos("1:10"))) != vboard::kNoDevice);
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_TRUE(seen.events.empty()) << "callbacks run only inside event handling";
    ASSERT_EQ(libusb_handle_events_timeout(host.ctx, &zero), 0);
    EXPECT_EQ(seen.events, std::vector<std::string>{"+1:9"}) << "the hub does not match";
    EXPECT_EQ(poll(&p, 1, 0), 0);

    ASSERT_TRUE(vboard::unplug(id));
    ASSERT_TRUE(vboard::remove(early));
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    libusb_handle_events_timeout(host.ctx, &zero);
    EXPECT_EQ(seen.events, (std::vector<std::string>{"+1:9", "-1:9", "-1:1"}));
    libusb_free_pollfds(fds);
    libusb_hotplug_deregister_callback(host.ctx, cb);
    ASSERT_TRUE(vboard::plug(id));
    libusb_handle_events_timeout(host.ctx, &zero);
    EXPECT_EQ(seen.events.size(), 3u) << "deregistered";
}

TEST_F(Libusb, ScriptedDeviceChecksExactBytes)
{
    vboard::Script s;
    s.out("55534243 00000000 10000000 00 00 01 01 000000000000000000000000000000")
        .out(header(0x07, 0))
        .in("55534253 00000000 00000000 00")
        .out("55534243 ?? ?? ?? ?? 10000000 80 00 01 02 000000000000000000000000000000")
        .fail(false, LIBUSB_ERROR_PIPE);
    const vboard::DeviceId id = vboard::addScripted(pos("1:2:3"), s);
    ASSERT_NE(id, vboard::kNoDevice);
    ASSERT_TRUE(openAt(pos("1:2:3")));
    ASSERT_TRUE(host.send(header(0x07, 0)));
    Bytes r;
    EXPECT_FALSE(host.recv(&r, 16));
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_PIPE);
    EXPECT_TRUE(vboard::scriptStatus(id).ok());
}

TEST_F(Libusb, ScriptedDeviceReportsAMismatchWithAHexDump)
{
    vboard::Script s;
    s.out("55534243 00000000 10000000 00 00 01 01 000000000000000000000000000000")
        .out(header(0x07, 0));
    const vboard::DeviceId id = vboard::addScripted(pos("1:2:3"), s);
    ASSERT_TRUE(openAt(pos("1:2:3")));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(host.send(header(0x00, 0)));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_PIPE);
    const vboard::ScriptStatus st = vboard::scriptStatus(id);
    EXPECT_FALSE(st.ok());
    ASSERT_EQ(st.errors.size(), 1u);
    EXPECT_NE(st.errors[0].find("step 1: OUT packet differs"), std::string::npos) << st.errors[0];
    EXPECT_NE(st.errors[0].find("  0000: 55 50 47 43 01 01 07 00"), std::string::npos) << st.errors[0];
    EXPECT_NE(st.errors[0].find("  0000: 55 50 47 43 01 01 00 00"), std::string::npos) << st.errors[0];
    EXPECT_NE(err.find("vboard script mismatch"), std::string::npos);
}

TEST_F(Libusb, ControlLinesDriveTheInProcessBus)
{
    std::string reply;
    ASSERT_TRUE(vboard::control("plug board 1:6 block=4096 upgrade=1", &reply)) << reply;
    EXPECT_EQ(reply, "ok #1\n");
    ASSERT_TRUE(vboard::control("plug keyboard 2:1", &reply)) << reply;
    ASSERT_TRUE(vboard::control("fault 1:6 crc", &reply)) << reply;
    ASSERT_TRUE(vboard::control("state", &reply));
    EXPECT_NE(reply.find("#1 board 1:6 addr="), std::string::npos) << reply;
    EXPECT_NE(reply.find("mode=1"), std::string::npos) << reply;
    EXPECT_NE(reply.find("#2 keyboard 2:1"), std::string::npos) << reply;
    ASSERT_TRUE(vboard::control("received #1", &reply));
    EXPECT_NE(reply.find("  fault crc"), std::string::npos) << reply;
    EXPECT_FALSE(vboard::control("plug board 1:6", &reply)) << "taken";
    EXPECT_FALSE(vboard::control("unplug 9:9", &reply));
    EXPECT_EQ(reply, "error: no device 9:9\n");
    EXPECT_FALSE(vboard::control("set 1:6 block=big", &reply));
    ASSERT_TRUE(vboard::control("unplug 1:6", &reply));
    ASSERT_TRUE(vboard::control("wait 1:6 absent 100", &reply));
    EXPECT_FALSE(vboard::control("wait 1:6 present 50", &reply));
}

} // namespace
