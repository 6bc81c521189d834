// Each command, answered as a board answers it, and malformed commands
// failed the way a board fails them.
#include "fixture.h"

using namespace rawhost;

namespace {

class Commands : public vbtest::BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        vboard::BoardConfig c = config();
        id = addBoard(c);
        ASSERT_TRUE(openAt(c.position));
    }
    virtual vboard::BoardConfig config()
    {
        vboard::BoardConfig c;
        c.keepData = true;
        c.restartDelayMs = 200;
        return c;
    }
    void expectStalled(const char *what)
    {
        EXPECT_EQ(host.lastError, LIBUSB_ERROR_PIPE) << what << " (" << host.where << ")";
        EXPECT_EQ(host.mode(), 0) << what << ": the board must take commands again";
    }

    vboard::DeviceId id = vboard::kNoDevice;
    uint8_t st = 0xff;
    uint32_t dlen = 0;
};

TEST_F(Commands, HardwareInfoCarriesTheMode)
{
    Bytes hw;
    ASSERT_TRUE(host.simple(0x00, &st, &hw));
    EXPECT_EQ(st, 0);
    ASSERT_EQ(hw.size(), 108u);
    EXPECT_EQ(hw[40], 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(hw.data())), "ZK-VBOARD");
}

TEST_F(Commands, TraceInfoAnswersItsText)
{
    Bytes t;
    ASSERT_TRUE(host.simple(0x01, &st, &t));
    EXPECT_EQ(std::string(t.begin(), t.end()), vboard::BoardConfig().traceInfo);
}

TEST_F(Commands, WriteThenReadMemoryInPacketsOfTheLimit)
{
    const Bytes data = pattern(5000);
    Bytes addrLen(8);
    put32(&addrLen[0], 0x40001000);
    put32(&addrLen[4], 5000);
    // 8-byte argument, then 2048, 2048 and 904 bytes; header length 5008.
    ASSERT_TRUE(host.send(header(0x02, 5008)));
    ASSERT_TRUE(host.send(addrLen));
    ASSERT_TRUE(host.send(data.data(), 2048));
    ASSERT_TRUE(host.send(data.data() + 2048, 2048));
    ASSERT_TRUE(host.send(data.data() + 4096, 904));
    ASSERT_TRUE(host.response(&st, &dlen));
    EXPECT_EQ(st, 0);

    ASSERT_TRUE(host.command(0x03, 8, {addrLen}, &st, &dlen));
    EXPECT_EQ(st, 0);
    ASSERT_EQ(dlen, 5000u);
    Bytes a, b, c;
    ASSERT_TRUE(host.recv(&a, 2048));
    ASSERT_TRUE(host.recv(&b, 2048));
    ASSERT_TRUE(host.recv(&c, 904));
    a.insert(a.end(), b.begin(), b.end());
    a.insert(a.end(), c.begin(), c.end());
    EXPECT_EQ(a, data);

    EXPECT_EQ(vboard::readMemory(id, 0x40001000, 5000), data);
    EXPECT_EQ(vboard::readMemory(id, 0x40000ff0, 16), Bytes(16, 0));
    const vboard::BoardReport r = vboard::report(id);
    ASSERT_EQ(r.memoryWrites.size(), 1u);
    EXPECT_EQ(r.memoryWrites[0].address, 0x40001000u);
    EXPECT_EQ(r.memoryWrites[0].length, 5000u);
}

// Each malformed command is refused with a stall at the packet that breaks
// it, and the same board takes the next command: the cases run in a row.
TEST_F(Commands, MalformedCommandsAreStalledAtTheBreakingPacket)
{
    struct Packet {
        Bytes bytes;
        bool accepted;
    };
    struct Case {
        const char *what;
        std::vector<Packet> packets;  // the last one is refused
    };
    Bytes writeOf100(8), writeOf10(8);
    put32(&writeOf100[4], 100);
    put32(&writeOf10[4], 10);
    const std::vector<Case> cases = {
        {"write header length", {{header(0x02, 100), true}, {writeOf100, false}}},
        {"write overrun", {{header(0x02, 18), true}, {writeOf10, true}, {Bytes(11, 1), false}}},
        {"4 letters announced as 5", {{header(0x05, 9), true}, {u32(5), true}, {Bytes{'r', 'e', 's', 'e'}, false}}},
        {"header length 10 for 5 letters", {{header(0x05, 10), true}, {u32(5), false}}},
        {"upgrade configuration value 31", {{header(0x0A, 36), true}, {u32(31), false}}},
        {"0x12 before any entry", {{header(0x12, 100), false}}},
        {"500-byte entry", {{header(0x10, 512), true}, {Bytes(500, 0), false}}},
        {"entry header length 500", {{header(0x10, 500), false}}},
        {"4-byte partition request", {{header(0x17, 4), true}, {Bytes(4, 0), false}}},
        {"partition header length 8", {{header(0x17, 8), false}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (const Packet &p : c.packets)
            ASSERT_EQ(host.send(p.bytes), p.accepted);
        expectStalled(c.what);
    }
    // Data beyond an FWC's padded size, once an entry is open.
    ASSERT_TRUE(host.command(0x10, 512, {fwcEntry("x", 100, 0)}, &st, &dlen));
    ASSERT_TRUE(host.send(header(0x12, 100)));
    EXPECT_FALSE(host.send(Bytes(513, 0)));
    expectStalled("513 bytes for an FWC of 100 with 512-byte blocks");
}

TEST_F(Commands, ExecSetAndQueryValues)
{
    vboard::BoardConfig c;
    ASSERT_TRUE(vboard::boardConfig(id, &c));
    std::string reply;
    ASSERT_TRUE(vboard::control("set #" + std::to_string(id) + " u32=7:0xabcd", &reply)) << reply;

    ASSERT_TRUE(host.command(0x04, 4, {u32(0x80000000)}, &st, &dlen));
    EXPECT_EQ(st, 0);
    ASSERT_TRUE(host.command(0x09, 4, {u32(42)}, &st, &dlen));
    EXPECT_EQ(st, 0);
    ASSERT_TRUE(host.command(0x08, 4, {u32(7)}, &st, &dlen));
    ASSERT_EQ(dlen, 4u);
    Bytes v;
    ASSERT_TRUE(host.recv(&v, 4));
    EXPECT_EQ(get32(v.data()), 0xabcdu);
    ASSERT_TRUE(host.command(0x08, 4, {u32(8)}, &st, &dlen));
    ASSERT_TRUE(host.recv(&v, 4));
    EXPECT_EQ(get32(v.data()), 0u);

    const vboard::BoardReport r = vboard::report(id);
    EXPECT_EQ(r.execs, std::vector<uint32_t>{0x80000000});
    EXPECT_EQ(r.setU32s, std::vector<uint32_t>{42});
}

TEST_F(Commands, ValueCommandsWithAnotherLengthAreStalled)
{
    ASSERT_TRUE(host.send(header(0x04, 4)));
    EXPECT_FALSE(host.send(Bytes(5, 0)));
    expectStalled("5-byte value");
    EXPECT_FALSE(host.send(header(0x09, 8)));
    expectStalled("header length 8");
}

TEST_F(Commands, ShellTextsAreRemembered)
{
    const std::string text = "ram_boot 0x40000000 mmc 0";
    Bytes t(text.begin(), text.end());
    ASSERT_TRUE(host.command(0x05, uint32_t(text.size() + 4), {u32(uint32_t(text.size())), t}, &st,
                             &dlen));
    EXPECT_EQ(st, 0);
    EXPECT_EQ(vboard::report(id).shellTexts, std::vector<std::string>{text});
}

TEST_F(Commands, ResetRestartsTheBoardAfterItsAnswer)
{
    const uint8_t before = vboard::report(id).address;
    ASSERT_TRUE(host.command(0x05, 9, {u32(5), Bytes{'r', 'e', 's', 'e', 't'}}, &st, &dlen));
    EXPECT_EQ(st, 0);
    EXPECT_FALSE(vboard::isPresent(id));
    EXPECT_EQ(host.mode(), -1);
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_NO_DEVICE);
    ASSERT_TRUE(vboard::waitPresent(id, true, 3000));
    ASSERT_TRUE(openAt(vboard::UsbPosition()));
    EXPECT_EQ(host.mode(), 0);
    const vboard::BoardReport r = vboard::report(id);
    EXPECT_NE(r.address, before);
    EXPECT_EQ(r.restarts, 1);
}

TEST_F(Commands, BlobIsRemembered)
{
    const Bytes data = pattern(3000);
    ASSERT_TRUE(host.send(header(0x06, 3004)));
    ASSERT_TRUE(host.send(u32(3000)));
    ASSERT_TRUE(host.send(data.data(), 2048));
    ASSERT_TRUE(host.send(data.data() + 2048, 952));
    ASSERT_TRUE(host.response(&st, &dlen));
    EXPECT_EQ(st, 0);
    ASSERT_EQ(vboard::report(id).blobs.size(), 1u);
    EXPECT_EQ(vboard::report(id).blobs[0], data);
}

TEST_F(Commands, NopAnswersAnEmptyResponse)
{
    Bytes a;
    ASSERT_TRUE(host.simple(0x07, &st, &a));
    EXPECT_EQ(st, 0);
    EXPECT_TRUE(a.empty());
}

TEST_F(Commands, UpgradeConfigurationAndEnd)
{
    Bytes cfg(32, 0);
    cfg[0] = 3;
    ASSERT_TRUE(host.command(0x0A, 36, {u32(32), cfg}, &st, &dlen));
    EXPECT_EQ(st, 0);
    ASSERT_TRUE(host.command(0x0B, 36, {u32(32), Bytes(32, 0)}, &st, &dlen));
    EXPECT_EQ(st, 0);
    const vboard::BoardReport r = vboard::report(id);
    ASSERT_EQ(r.upgradeConfigs.size(), 1u);
    EXPECT_EQ(r.upgradeConfigs[0], cfg);
    EXPECT_EQ(r.upgradeEnds, 1);
}

TEST_F(Commands, OneFwcInTheOrderTheBoardExpects)
{
    const Bytes data = pattern(100000);
    uint32_t block = 0;
    ASSERT_TRUE(burnData("image.updater.env", data, 2048, &block, "burn run"));
    EXPECT_EQ(block, 512u);
    uint32_t crc = 0, burn = 1, run = 1;
    ASSERT_TRUE(host.query32(0x13, &st, &crc));
    EXPECT_EQ(crc, crcOf(data));
    ASSERT_TRUE(host.query32(0x14, &st, &burn));
    EXPECT_EQ(burn, 0u);
    ASSERT_TRUE(host.query32(0x15, &st, &run));
    EXPECT_EQ(run, 0u);

    const vboard::BoardReport r = vboard::report(id);
    ASSERT_EQ(r.fwcs.size(), 1u);
    const vboard::FwcRecord &f = r.fwcs[0];
    EXPECT_EQ(f.name, "image.updater.env");
    EXPECT_EQ(f.attributes, "burn run");
    EXPECT_EQ(f.metaSize, 100000u);
    EXPECT_EQ(f.announcedSize, 100000u);
    EXPECT_EQ(f.received, 100352u); // padded to 196 blocks of 512
    EXPECT_EQ(f.crc, crcOf(data));
    EXPECT_TRUE(f.closed && f.complete && !f.restarted && !f.refused);
    EXPECT_EQ(f.data, data);
    EXPECT_EQ(r.fwcBytes, 100352u);
    EXPECT_EQ(r.commands, (std::vector<int>{0x10, 0x11, 0x12, 0x13, 0x14, 0x15}));
}

TEST_F(Commands, ShortFwcIsClosedWithAFailure)
{
    ASSERT_TRUE(host.command(0x10, 512, {fwcEntry("x", 1000, 0)}, &st, &dlen));
    ASSERT_TRUE(host.sendFwcData(1000, Bytes(512, 0), 512));
    ASSERT_TRUE(host.response(&st, &dlen));
    EXPECT_EQ(st, 1);
    EXPECT_FALSE(vboard::report(id).fwcs[0].complete);
}

TEST_F(Commands, ResultQueriesWithoutAClosedFwcFail)
{
    uint32_t v = 0;
    EXPECT_FALSE(host.query32(0x13, &st, &v));
    EXPECT_EQ(st, 1);
    Bytes a;
    ASSERT_TRUE(host.simple(0x14, &st, &a));
    EXPECT_EQ(st, 1);
    EXPECT_TRUE(a.empty());
}

TEST_F(Commands, TargetImagesAreRefusedInLoaderMode)
{
    ASSERT_TRUE(host.command(0x10, 512, {fwcEntry("image.target.kernel", 10, 0)}, &st, &dlen));
    EXPECT_EQ(st, 1);
    EXPECT_FALSE(host.send(header(0x12, 10)));
    expectStalled("data of a refused entry");
    ASSERT_EQ(vboard::report(id).fwcs.size(), 1u);
    EXPECT_TRUE(vboard::report(id).fwcs[0].refused);
}

TEST_F(Commands, BlockSizeIsConfigurable)
{
    vboard::BoardConfig c;
    ASSERT_TRUE(vboard::boardConfig(id, &c));
    c.blockSize = 4096;
    ASSERT_TRUE(vboard::configure(id, c));
    uint32_t v = 0;
    ASSERT_TRUE(host.query32(0x11, &st, &v));
    EXPECT_EQ(v, 4096u);
}

TEST_F(Commands, StorageMediaAnswersItsText)
{
    Bytes a;
    ASSERT_TRUE(host.simple(0x16, &st, &a));
    EXPECT_EQ(std::string(a.begin(), a.end()), "mmc0");
}

TEST_F(Commands, PartitionTableTakes68BytesAnnouncedAs4)
{
    ASSERT_TRUE(host.command(0x17, 4, {Bytes(68, 0)}, &st, &dlen));
    EXPECT_EQ(st, 0);
    Bytes s;
    ASSERT_TRUE(host.recv(&s, dlen));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(s.data())), vboard::BoardConfig().partitionTable);
    EXPECT_EQ(s.back(), 0);
    ASSERT_TRUE(host.command(0x17, 68, {Bytes(68, 0)}, &st, &dlen));
    EXPECT_EQ(st, 0);
    ASSERT_TRUE(host.recv(&s, dlen));
}

TEST_F(Commands, FwcReadBackReturnsTheKeptBytes)
{
    const Bytes data = pattern(3000);
    ASSERT_TRUE(burnData("image.updater.env", data, 2048));
    Bytes req(184, 0);
    memcpy(req.data(), "image.updater.env", 17);
    put32(&req[96], 1000);  // offset
    put32(&req[112], 2500); // size: 2000 bytes of data, then zeros
    ASSERT_TRUE(host.command(0x18, 184, {req}, &st, &dlen));
    EXPECT_EQ(st, 0);
    ASSERT_EQ(dlen, 2500u);
    Bytes a, b;
    ASSERT_TRUE(host.recv(&a, 2048));
    ASSERT_TRUE(host.recv(&b, 452));
    a.insert(a.end(), b.begin(), b.end());
    Bytes expect(data.begin() + 1000, data.end());
    expect.resize(2500, 0);
    EXPECT_EQ(a, expect);

    memcpy(req.data(), "nothing", 8);
    ASSERT_TRUE(host.command(0x18, 184, {req}, &st, &dlen));
    EXPECT_EQ(st, 1);
    EXPECT_EQ(dlen, 0u);
}

TEST_F(Commands, MalformedHeadersAreStalled)
{
    Bytes h = header(0x07, 0);
    h[0] = 'X';
    EXPECT_FALSE(host.send(h));
    expectStalled("magic");
    h = header(0x07, 0);
    h[12] ^= 1;
    EXPECT_FALSE(host.send(h));
    expectStalled("checksum");
    h = header(0x07, 0);
    h[4] = 2;
    put32(&h[12], get32(&h[0]) + get32(&h[4]) + get32(&h[8]));
    EXPECT_FALSE(host.send(h));
    expectStalled("fixed byte");
    EXPECT_FALSE(host.send(header(0x42, 0)));
    expectStalled("unknown code");
    EXPECT_FALSE(host.send(header(0x00, 4)));
    expectStalled("hardware info with length 4");
    EXPECT_FALSE(host.send(Bytes(15, 0)));
    expectStalled("15-byte header");
}

TEST_F(Commands, ResponseWithoutACommandIsStalled)
{
    EXPECT_FALSE(host.response(&st, &dlen));
    expectStalled("response before any command");
}

TEST_F(Commands, NewCommandDropsAnUnreadAnswer)
{
    ASSERT_TRUE(host.send(header(0x00, 0)));
    ASSERT_TRUE(host.response(&st, &dlen));
    EXPECT_EQ(dlen, 108u);
    // The host gives up on the 108 bytes and asks something else.
    Bytes a;
    ASSERT_TRUE(host.simple(0x16, &st, &a));
    EXPECT_EQ(std::string(a.begin(), a.end()), "mmc0");
}

} // namespace

namespace {

// Every command with a header length it does not take is stalled at its
// header; the board then takes commands again.
TEST_F(Commands, HeaderLengthsThatDoNotFitTheCommandAreStalled)
{
    const struct {
        uint8_t code;
        uint32_t length;
    } wrong[] = {
        {0x00, 1},  {0x01, 4},  {0x02, 7},  {0x03, 12}, {0x04, 0},   {0x05, 3},
        {0x06, 2},  {0x07, 16}, {0x08, 8},  {0x09, 2},  {0x0A, 32},  {0x0B, 40},
        {0x10, 0},  {0x11, 4},  {0x13, 4},  {0x14, 1},  {0x15, 100}, {0x16, 8},
        {0x17, 0},  {0x17, 64}, {0x18, 0},  {0x18, 180},
    };
    for (const auto &w : wrong) {
        EXPECT_FALSE(host.send(header(w.code, w.length))) << std::hex << int(w.code) << " " << w.length;
        expectStalled("header length");
    }
}

} // namespace
