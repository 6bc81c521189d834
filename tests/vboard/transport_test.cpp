// The board's packet exchange: command wrapper, data phase, status wrapper,
// and how it fails malformed input.
#include "fixture.h"

using namespace rawhost;

namespace {

class Transport : public vbtest::BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        id = addBoard();
        ASSERT_TRUE(openAt(vboard::UsbPosition()));
    }

    int out(Bytes b)
    {
        int n = 0;
        return libusb_bulk_transfer(host.h, 0x01, b.data(), int(b.size()), &n, 1000);
    }
    int in(size_t len, Bytes *got = nullptr)
    {
        Bytes b(len);
        int n = 0;
        const int rc = libusb_bulk_transfer(host.h, 0x81, b.data(), int(len), &n, 1000);
        b.resize(size_t(n));
        if (got)
            *got = b;
        return rc;
    }
    // After any failure the board takes a well-formed command again.
    void expectWorking() { EXPECT_EQ(host.mode(), 0) << host.where << " " << host.lastError; }

    vboard::DeviceId id = vboard::kNoDevice;
};

TEST_F(Transport, StatusWrapperEchoesTheTagOfEachPacket)
{
    host.tag = 0x1234;
    ASSERT_TRUE(host.send(header(0x07, 0)));
    EXPECT_EQ(get32(&host.lastCsw[4]), 0x1234u);
    EXPECT_EQ(memcmp(host.lastCsw.data(), "USBS", 4), 0);
    uint8_t st = 0xff;
    uint32_t dlen = 1;
    ASSERT_TRUE(host.response(&st, &dlen));
    EXPECT_EQ(get32(&host.lastCsw[4]), 0x1235u);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(dlen, 0u);
}

TEST_F(Transport, MalformedCommandWrappersAreStalled)
{
    struct Case {
        const char *what;
        size_t offset;
        uint8_t value;
    } cases[] = {
        {"signature", 0, 'X'},  {"flags", 12, 0x40},         {"lun", 13, 1},
        {"block length", 14, 2}, {"direction byte", 15, 0x02},
    };
    for (const Case &c : cases) {
        Bytes w = cbw(1, 16, false);
        w[c.offset] = c.value;
        EXPECT_EQ(out(w), LIBUSB_ERROR_PIPE) << c.what;
        expectWorking();
    }
    Bytes shortWrapper = cbw(1, 16, false);
    shortWrapper.pop_back();
    EXPECT_EQ(out(shortWrapper), LIBUSB_ERROR_PIPE);
    expectWorking();
    EXPECT_GE(vboard::report(id).stalls, 6);
}

TEST_F(Transport, DataPhaseOfAnotherLengthIsStalled)
{
    ASSERT_EQ(out(cbw(0, 16, false)), 0);
    Bytes h = header(0x07, 0);
    h.push_back(0);
    EXPECT_EQ(out(h), LIBUSB_ERROR_PIPE);
    expectWorking();

    ASSERT_EQ(out(cbw(0, 16, false)), 0);
    EXPECT_EQ(in(16), LIBUSB_ERROR_PIPE) << "IN data phase on an OUT packet";
    expectWorking();
}

TEST_F(Transport, DataPhaseAboveTheLoaderLimitIsStalled)
{
    EXPECT_EQ(out(cbw(0, 2049, false)), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(out(cbw(0, 2049, true)), LIBUSB_ERROR_PIPE);
    expectWorking();
    // 2048 itself passes the wrapper (and then fails as a command header).
    EXPECT_EQ(out(cbw(0, 2048, false)), 0);
    EXPECT_EQ(out(Bytes(2048, 0)), LIBUSB_ERROR_PIPE);
}

TEST_F(Transport, UpgradeModeTakes65536ButNotMore)
{
    vboard::removeAll();
    vboard::BoardConfig c;
    c.startInUpgradeMode = true;
    c.keepData = true;
    addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    EXPECT_EQ(out(cbw(0, 65537, false)), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(host.mode(), 1);
    const Bytes data = pattern(65536 * 2);
    ASSERT_TRUE(burnData("image.target.rootfs", data, 65536));
    EXPECT_EQ(vboard::report(vboard::find(c.position)).fwcs.back().data, data);
}

TEST_F(Transport, InTransferWhileTheBoardWaitsForAWrapperIsStalled)
{
    EXPECT_EQ(in(13), LIBUSB_ERROR_PIPE);
    expectWorking();
}

TEST_F(Transport, OutTransferInPlaceOfTheStatusIsStalled)
{
    ASSERT_EQ(out(cbw(0, 16, false)), 0);
    ASSERT_EQ(out(header(0x07, 0)), 0);
    EXPECT_EQ(out(cbw(1, 16, false)), LIBUSB_ERROR_PIPE);
    expectWorking();
}

TEST_F(Transport, InTransferShorterThanAnnouncedOverflows)
{
    ASSERT_TRUE(host.send(header(0x00, 0)));
    ASSERT_EQ(out(cbw(1, 16, true)), 0);
    EXPECT_EQ(in(8), LIBUSB_ERROR_OVERFLOW);
    expectWorking();
}

TEST_F(Transport, ResidueReportsAShortAnswer)
{
    // Ask the 16-byte response header with a 32-byte data phase: the board
    // sends its 16 bytes and reports 16 missing.
    ASSERT_TRUE(host.send(header(0x07, 0)));
    Bytes w = cbw(7, 32, true);
    ASSERT_EQ(out(w), 0);
    Bytes got;
    ASSERT_EQ(in(32, &got), 0);
    EXPECT_EQ(got.size(), 16u);
    Bytes csw;
    ASSERT_EQ(in(13, &csw), 0);
    EXPECT_EQ(get32(&csw[4]), 7u);
    EXPECT_EQ(get32(&csw[8]), 16u);
}

TEST_F(Transport, TransferOnAnEndpointTheBoardLacksFails)
{
    uint8_t b[4] = {};
    int n = 0;
    EXPECT_EQ(libusb_bulk_transfer(host.h, 0x02, b, 4, &n, 100), LIBUSB_ERROR_IO);
}

TEST_F(Transport, ExtraEndpointsAreListedAndStalled)
{
    vboard::removeAll();
    vboard::BoardConfig c;
    c.extraEndpoints = {{0x02, 2, 512}, {0x83, 3, 64}};
    addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    libusb_config_descriptor *cfg = nullptr;
    ASSERT_EQ(libusb_get_active_config_descriptor(libusb_get_device(host.h), &cfg), 0);
    ASSERT_EQ(cfg->bNumInterfaces, 1);
    const libusb_interface_descriptor &alt = cfg->interface[0].altsetting[0];
    ASSERT_EQ(alt.bNumEndpoints, 4);
    EXPECT_EQ(alt.endpoint[0].bEndpointAddress, 0x81);
    EXPECT_EQ(alt.endpoint[1].bEndpointAddress, 0x01);
    EXPECT_EQ(alt.endpoint[2].bEndpointAddress, 0x02);
    EXPECT_EQ(alt.endpoint[3].bmAttributes & 3, LIBUSB_TRANSFER_TYPE_INTERRUPT);
    libusb_free_config_descriptor(cfg);
    uint8_t b[4] = {};
    int n = 0;
    EXPECT_EQ(libusb_bulk_transfer(host.h, 0x02, b, 4, &n, 100), LIBUSB_ERROR_PIPE);
    expectWorking();
}

TEST_F(Transport, OtherEndpointAddressesAreHonoured)
{
    vboard::removeAll();
    vboard::BoardConfig c;
    c.inEndpoint = 0x82;
    c.outEndpoint = 0x03;
    addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    host.in = 0x82;
    host.out = 0x03;
    expectWorking();
}

} // namespace
