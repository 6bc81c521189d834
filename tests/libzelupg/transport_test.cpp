// Packet transport against a scripted device: exact wrappers, tag sequence,
// packet limit and status-wrapper checks.

#include "vboard_fixture.h"
#include "zelupg_log.h"
#include "zelupg_trans.h"

#include <libusb.h>

#include <cstdlib>

namespace {

using Transport = VboardTest;

const std::vector<uint8_t> kData = {0xDE, 0xAD, 0xBE, 0xEF};

TEST_F(Transport, SendAndReceiveUseExactWrappersAndConsecutiveTags)
{
    Wire wire;
    wire.send(kData).recv({1, 2, 3}).send({9});
    ASSERT_NE(scripted(wire), nullptr);

    EXPECT_EQ(zelupg_trans_send_pkt(dev, kData.data(), 4), 4);
    uint8_t buf[3] = {};
    EXPECT_EQ(zelupg_trans_recv_pkt(dev, buf, 3), 3);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[2], 3);
    const uint8_t one = 9;
    EXPECT_EQ(zelupg_trans_send_pkt(dev, &one, 1), 1);
    EXPECT_TRUE(scriptDone());
    EXPECT_EQ(upg_dev_last_error(dev), 0);
    EXPECT_TRUE(log.nonDebug().empty());
}

TEST_F(Transport, SuccessfulSendTracesEveryPhaseAtDebugLevel)
{
    Wire wire;
    wire.send(kData);
    ASSERT_NE(scripted(wire), nullptr);
    ASSERT_EQ(zelupg_trans_send_pkt(dev, kData.data(), 4), 4);

    std::vector<std::string> trace;
    for (const LogLine &l : log.lines()) {
        EXPECT_EQ(l.level, ZELUPG_LOG_DEBUG) << l.text;
        EXPECT_EQ(l.func, "zelupg_trans_send_pkt");
        trace.push_back(l.text);
    }
    EXPECT_EQ(trace, (std::vector<std::string>{"Send CBW, tag 0x0", "  -> ok", "Send data, len 4",
                                               "  -> ok", "Read CSW, tag 0x0", "  -> ok"}));
}

TEST_F(Transport, PacketAboveLimitIsRefusedBeforeTheBusAndTakesNoTag)
{
    Wire wire;
    wire.send(kData);  // the next packet still carries tag 0
    ASSERT_NE(scripted(wire), nullptr);
    std::vector<uint8_t> big(2049, 0x11);

    EXPECT_EQ(zelupg_trans_send_pkt(dev, big.data(), 2049), 0);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "zelupg_trans_send_pkt", "Data length is over size."), 1);
    log.clear();
    EXPECT_EQ(zelupg_trans_recv_pkt(dev, big.data(), 2049), 0);
    EXPECT_TRUE(log.lines().empty()) << "receiving above the limit fails silently";

    EXPECT_EQ(zelupg_trans_send_pkt(dev, kData.data(), 4), 4);
    EXPECT_TRUE(scriptDone());
}

TEST_F(Transport, LimitFollowsTheSetting)
{
    Wire wire;
    std::vector<uint8_t> big(4096, 0x5A);
    wire.send(big);
    ASSERT_NE(scripted(wire), nullptr);

    zelupg_set_max_packet(ZELUPG_PACKET_LIMIT_UPGRADE);
    EXPECT_EQ(zelupg_get_max_packet(), 65536u);
    EXPECT_EQ(zelupg_trans_send_pkt(dev, big.data(), 4096), 4096);
    EXPECT_TRUE(scriptDone());
}

TEST_F(Transport, StatusWrapperWithPreviousTagOrWrongSignatureFails)
{
    Wire wire;
    wire.script().out(Wire::cbw(0, 4, false)).out(kData).in(Wire::csw(0));
    wire.script().out(Wire::cbw(1, 4, false)).out(kData).in(Wire::csw(0));
    wire.script().out(Wire::cbw(2, 2, true)).in(std::vector<uint8_t>{7, 7}).in(Wire::csw(2, 0, 0, "USBX"));
    ASSERT_NE(scripted(wire), nullptr);

    EXPECT_EQ(zelupg_trans_send_pkt(dev, kData.data(), 4), 4);
    EXPECT_EQ(zelupg_trans_send_pkt(dev, kData.data(), 4), 0);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "zelupg_trans_send_pkt",
                        "CSW is not matched, Sig 0x53425355, Tag got 0, expect 0x1"),
              1);
    uint8_t buf[2];
    EXPECT_EQ(zelupg_trans_recv_pkt(dev, buf, 2), 0);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "zelupg_trans_recv_pkt",
                        "CSW is not matched, Sig 0x58425355, Tag 0x2/0x2"),
              1);
    EXPECT_TRUE(scriptDone());
}

TEST_F(Transport, ResidueAndStatusOfTheStatusWrapperAreIgnored)
{
    Wire wire;
    wire.script().out(Wire::cbw(0, 4, false)).out(kData).in(Wire::csw(0, 0xFFFFFFFF, 0xFF));
    wire.script().out(Wire::cbw(1, 1, true)).in(std::vector<uint8_t>{0x42}).in(Wire::csw(1, 77, 1));
    ASSERT_NE(scripted(wire), nullptr);

    EXPECT_EQ(zelupg_trans_send_pkt(dev, kData.data(), 4), 4);
    uint8_t b = 0;
    EXPECT_EQ(zelupg_trans_recv_pkt(dev, &b, 1), 1);
    EXPECT_EQ(b, 0x42);
    EXPECT_TRUE(scriptDone());
}

TEST_F(Transport, FailedPhasesKeepTheTagSequenceAndRecordTheUsbError)
{
    Wire wire;
    // tag 0: the data phase stalls
    wire.script().out(Wire::cbw(0, 4, false)).fail(true, LIBUSB_ERROR_PIPE);
    // tag 1: the wrapper itself fails
    wire.script().fail(true, LIBUSB_ERROR_IO);
    // tag 2: the received data phase times out
    wire.script().out(Wire::cbw(2, 4, true)).fail(false, LIBUSB_ERROR_TIMEOUT);
    // tag 3: the status wrapper cannot be read
    wire.script().out(Wire::cbw(3, 4, false)).out(kData).fail(false, LIBUSB_ERROR_NO_DEVICE);
    // tag 4: fine again
    wire.script().out(Wire::cbw(4, 4, false)).out(kData).in(Wire::csw(4));
    ASSERT_NE(scripted(wire), nullptr);
    uint8_t buf[4];

    EXPECT_EQ(zelupg_trans_send_pkt(dev, kData.data(), 4), 0);
    EXPECT_EQ(upg_dev_last_error(dev), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(log.countPrefix(ZELUPG_LOG_ERR, "zelupg_trans_send_pkt",
                              "Send tag 0x0 return -9, size 0/4, "),
              1);

    EXPECT_EQ(zelupg_trans_recv_pkt(dev, buf, 4), 0);
    EXPECT_EQ(upg_dev_last_error(dev), LIBUSB_ERROR_IO);
    EXPECT_EQ(log.countPrefix(ZELUPG_LOG_ERR, "zelupg_trans_recv_pkt", "CBW return -1, size 0, "),
              1);

    EXPECT_EQ(zelupg_trans_recv_pkt(dev, buf, 4), 0);
    EXPECT_EQ(upg_dev_last_error(dev), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(log.countPrefix(ZELUPG_LOG_ERR, "zelupg_trans_recv_pkt", "Read return -7, len 0/4, "),
              1);

    EXPECT_EQ(zelupg_trans_send_pkt(dev, kData.data(), 4), 0);
    EXPECT_EQ(upg_dev_last_error(dev), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(log.countPrefix(ZELUPG_LOG_ERR, "zelupg_trans_send_pkt",
                              "CSW tag 0x3 return -4, size 0, "),
              1);

    EXPECT_EQ(zelupg_trans_send_pkt(dev, kData.data(), 4), 4);
    EXPECT_EQ(upg_dev_last_error(dev), 0);
    EXPECT_TRUE(scriptDone());
    EXPECT_EQ(log.nonDebug().size(), 4u);
}

TEST_F(Transport, ExitAndInitRestartTheTagButASecondInitDoesNot)
{
    Wire wire;
    wire.send(kData).send(kData);
    wire.script().out(Wire::cbw(0, 4, false)).out(kData).in(Wire::csw(0));
    ASSERT_NE(scripted(wire), nullptr);

    EXPECT_EQ(zelupg_trans_send_pkt(dev, kData.data(), 4), 4);
    ASSERT_EQ(libzelupg_init(), 0);
    EXPECT_EQ(zelupg_trans_send_pkt(dev, kData.data(), 4), 4);
    upg_dev_close(dev);
    libzelupg_exit();
    ASSERT_EQ(libzelupg_init(), 0);
    dev = openAt(position(1, {2, 3}));
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(zelupg_trans_send_pkt(dev, kData.data(), 4), 4);
    EXPECT_TRUE(scriptDone());
}

TEST_F(Transport, NullDeviceAndHandlesWithoutTransportFailCleanly)
{
    EXPECT_EQ(zelupg_trans_send_pkt(nullptr, kData.data(), 4), 0);
    uint8_t buf[4];
    EXPECT_EQ(zelupg_trans_recv_pkt(nullptr, buf, 4), 0);
    EXPECT_TRUE(log.lines().empty());

    // A serial handle whose connection is missing, and a kind nobody knows.
    auto *serial = static_cast<upg_device *>(std::calloc(1, sizeof(upg_device)));
    serial->transport = UPG_TRANSPORT_SERIAL;
    EXPECT_EQ(zelupg_trans_send_pkt(serial, kData.data(), 4), 0);
    EXPECT_EQ(zelupg_trans_recv_pkt(serial, buf, 4), 0);
    serial->transport = 7;
    EXPECT_EQ(zelupg_trans_send_pkt(serial, kData.data(), 4), 0);
    EXPECT_EQ(log.nonDebug(),
              (std::vector<std::string>{"libuart_send: Connection is NULL",
                                        "zelupg_trans_send_pkt: CBW return -1",
                                        "libuart_send: Connection is NULL",
                                        "zelupg_trans_recv_pkt: CBW return -1",
                                        "zelupg_trans_send_pkt: Transport kind 7 is not supported"}));
    serial->transport = UPG_TRANSPORT_SERIAL;
    upg_dev_close(serial);
}

}  // namespace
