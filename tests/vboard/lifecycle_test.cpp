// The board's restart after its last loader stage, and the faults it
// produces on demand.
#include "board.h"
#include "fixture.h"
#include "shared_bus.h"

#include <chrono>
#include <thread>

using namespace rawhost;

namespace {

class Lifecycle : public vbtest::BoardTest {
protected:
    vboard::BoardConfig config()
    {
        vboard::BoardConfig c;
        c.position = pos("1:4:2");
        c.restartDelayMs = 200;
        c.timeoutCapMs = 50;
        return c;
    }
    // Meta, block size, start and data of an FWC; the closing response is
    // left to the test.
    void startFwc(const std::string &name, const Bytes &data)
    {
        uint8_t st = 0xff;
        uint32_t dlen = 0, bs = 0;
        ASSERT_TRUE(host.command(0x10, 512, {fwcEntry(name, uint32_t(data.size()), crcOf(data))},
                                 &st, &dlen));
        ASSERT_EQ(st, 0);
        ASSERT_TRUE(host.query32(0x11, &st, &bs));
        Bytes padded = data;
        padded.resize((data.size() + bs - 1) / bs * bs, 0);
        ASSERT_TRUE(host.sendFwcData(uint32_t(data.size()), padded, 2048));
    }
    bool fault(vboard::DeviceId id, const std::string &text)
    {
        vboard::Fault f;
        std::string err;
        return vboard::parseFault(text, &f, &err) && vboard::addFault(id, f);
    }

    uint8_t st = 0xff;
    uint32_t dlen = 0;
};

TEST_F(Lifecycle, LastLoaderStageRestartsTheBoardIntoUpgradeMode)
{
    const vboard::BoardConfig c = config();
    const vboard::DeviceId id = addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    const uint8_t before = vboard::report(id).address;

    ASSERT_TRUE(burnData("updater.spl", pattern(3000), 2048)) << "the first stage answers";
    EXPECT_EQ(host.mode(), 0);

    startFwc("updater.uboot", pattern(5000));
    EXPECT_FALSE(host.response(&st, &dlen));
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_PIPE);
    EXPECT_FALSE(vboard::isPresent(id));
    EXPECT_EQ(host.mode(), -1);
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_NO_DEVICE) << "the old handle is dead";

    ASSERT_TRUE(vboard::waitPresent(id, true, 3000));
    ASSERT_TRUE(openAt(c.position)) << "same bus and port path";
    const vboard::BoardReport r = vboard::report(id);
    EXPECT_NE(r.address, before);
    EXPECT_EQ(r.mode, 1);
    EXPECT_EQ(r.restarts, 1);
    EXPECT_EQ(r.enumerations, 2);
    ASSERT_EQ(r.fwcs.size(), 2u);
    EXPECT_TRUE(r.fwcs[1].restarted);
    EXPECT_EQ(r.fwcs[1].crc, crcOf(pattern(5000)));

    EXPECT_EQ(host.mode(), 1);
    ASSERT_TRUE(burnData("image.target.rootfs", pattern(200000), 65536)) << "64 KiB packets now";
}

TEST_F(Lifecycle, RestartAnswerCanBeAnIoErrorOrSilence)
{
    vboard::BoardConfig c = config();
    c.restartAnswer = vboard::RestartAnswer::Io;
    const vboard::DeviceId id = addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    startFwc("updater.uboot", pattern(100));
    EXPECT_FALSE(host.response(&st, &dlen));
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_IO);
    ASSERT_TRUE(vboard::waitPresent(id, true, 3000));

    c.restartAnswer = vboard::RestartAnswer::Silent;
    ASSERT_TRUE(vboard::configure(id, c));
    ASSERT_TRUE(openAt(c.position));
    startFwc("updater.uboot", pattern(100));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(host.response(&st, &dlen));
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(50));
    ASSERT_TRUE(vboard::waitPresent(id, true, 3000));
}

TEST_F(Lifecycle, LoaderStageIsConfigurable)
{
    vboard::BoardConfig c = config();
    c.lastLoaderStage = "updater.spl";
    const vboard::DeviceId id = addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    startFwc("updater.spl", pattern(100));
    EXPECT_FALSE(host.response(&st, &dlen));
    ASSERT_TRUE(vboard::waitPresent(id, true, 3000));
    ASSERT_TRUE(openAt(c.position));
    EXPECT_TRUE(burnData("updater.uboot", pattern(100), 2048)) << "no restart after uboot now";
}

TEST_F(Lifecycle, RestartFromOutsideComesBackInTheAskedMode)
{
    const vboard::BoardConfig c = config();
    const vboard::DeviceId id = addBoard(c);
    ASSERT_TRUE(vboard::restart(id, 1));
    EXPECT_FALSE(vboard::isPresent(id));
    ASSERT_TRUE(vboard::waitPresent(id, true, 3000));
    ASSERT_TRUE(openAt(c.position));
    EXPECT_EQ(host.mode(), 1);
}

TEST_F(Lifecycle, UnplugAndPlugKeepTheBoardsState)
{
    const vboard::BoardConfig c = config();
    const vboard::DeviceId id = addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    ASSERT_TRUE(burnData("a", pattern(10), 2048));
    ASSERT_TRUE(vboard::unplug(id));
    EXPECT_FALSE(openAt(c.position));
    ASSERT_TRUE(vboard::plug(id));
    ASSERT_TRUE(openAt(c.position));
    EXPECT_EQ(vboard::report(id).fwcs.size(), 1u);
    EXPECT_EQ(vboard::report(id).enumerations, 2);
}

TEST_F(Lifecycle, TransferFaultsByCommand)
{
    const vboard::BoardConfig c = config();
    const vboard::DeviceId id = addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    uint32_t v = 0;

    ASSERT_TRUE(fault(id, "stall cmd=0x11"));
    EXPECT_FALSE(host.query32(0x11, &st, &v));
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_PIPE);
    EXPECT_EQ(host.where, "data") << "the response header's data phase";
    EXPECT_TRUE(host.query32(0x11, &st, &v)) << "fires once";

    ASSERT_TRUE(fault(id, "io cmd=0x11 packet=0"));
    EXPECT_FALSE(host.query32(0x11, &st, &v));
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_IO);
    EXPECT_EQ(host.where, "data");

    ASSERT_TRUE(fault(id, "timeout cmd=0x11 stage=csw"));
    EXPECT_FALSE(host.query32(0x11, &st, &v));
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(host.where, "csw");

    ASSERT_TRUE(fault(id, "stall cmd=0x11 skip=1 count=2"));
    EXPECT_TRUE(host.query32(0x11, &st, &v));
    EXPECT_FALSE(host.query32(0x11, &st, &v));
    EXPECT_FALSE(host.query32(0x11, &st, &v));
    EXPECT_TRUE(host.query32(0x11, &st, &v));

    ASSERT_TRUE(fault(id, "nodev cmd=0x00"));
    EXPECT_EQ(host.mode(), -1);
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_NO_DEVICE);
    EXPECT_FALSE(vboard::isPresent(id));
    EXPECT_TRUE(vboard::plug(id));
}

TEST_F(Lifecycle, WrapperFaults)
{
    const vboard::BoardConfig c = config();
    const vboard::DeviceId id = addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    uint32_t v = 0;
    ASSERT_TRUE(fault(id, "csw_tag cmd=0x11"));
    EXPECT_FALSE(host.query32(0x11, &st, &v));
    EXPECT_EQ(host.where, "csw-match");
    EXPECT_EQ(get32(&host.lastCsw[4]), host.tag - 2);
    ASSERT_TRUE(fault(id, "csw_sig"));
    EXPECT_FALSE(host.query32(0x11, &st, &v));
    EXPECT_EQ(host.where, "csw-match");
    EXPECT_NE(memcmp(host.lastCsw.data(), "USBS", 4), 0);
    EXPECT_TRUE(host.query32(0x11, &st, &v));
}

TEST_F(Lifecycle, AnswerFaults)
{
    const vboard::BoardConfig c = config();
    const vboard::DeviceId id = addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    uint32_t v = 0;
    ASSERT_TRUE(fault(id, "resp_status cmd=0x07 value=5"));
    Bytes a;
    ASSERT_TRUE(host.simple(0x07, &st, &a));
    EXPECT_EQ(st, 5);
    ASSERT_TRUE(fault(id, "resp_len cmd=0x11"));
    ASSERT_TRUE(host.send(header(0x11, 0)));
    ASSERT_TRUE(host.response(&st, &dlen));
    EXPECT_EQ(dlen, 5u);
    ASSERT_TRUE(fault(id, "block0"));
    ASSERT_TRUE(host.query32(0x11, &st, &v));
    EXPECT_EQ(v, 0u);

    const Bytes data = pattern(777);
    ASSERT_TRUE(fault(id, "crc"));
    ASSERT_TRUE(fault(id, "burn_fail value=7"));
    ASSERT_TRUE(fault(id, "run_fail"));
    ASSERT_TRUE(burnData("x", data, 2048));
    ASSERT_TRUE(host.query32(0x13, &st, &v));
    EXPECT_EQ(v, ~crcOf(data));
    ASSERT_TRUE(host.query32(0x14, &st, &v));
    EXPECT_EQ(v, 7u);
    ASSERT_TRUE(host.query32(0x15, &st, &v));
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(vboard::report(id).fwcs[0].crc, crcOf(data)) << "the record keeps the real CRC";
}

TEST_F(Lifecycle, FaultsByByteCount)
{
    const vboard::BoardConfig c = config();
    const vboard::DeviceId id = addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    ASSERT_TRUE(fault(id, "nodev bytes=5000"));
    uint8_t st2 = 0;
    uint32_t bs = 0;
    ASSERT_TRUE(host.command(0x10, 512, {fwcEntry("big", 10000, 0)}, &st2, &dlen));
    ASSERT_TRUE(host.query32(0x11, &st2, &bs));
    ASSERT_TRUE(host.send(header(0x12, 10000)));
    EXPECT_TRUE(host.send(Bytes(2048, 0)));
    EXPECT_TRUE(host.send(Bytes(2048, 0)));
    EXPECT_FALSE(host.send(Bytes(2048, 0))) << "bytes 4096..6143 cross 5000";
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(vboard::report(id).fwcBytes, 6144u);

    ASSERT_TRUE(vboard::plug(id));
    ASSERT_TRUE(openAt(c.position));
    ASSERT_TRUE(fault(id, "crc bytes=7000"));
    ASSERT_TRUE(burnData("small", pattern(100), 2048)) << "6144 + 512 stays below 7000";
    uint32_t v = 0;
    ASSERT_TRUE(host.query32(0x13, &st, &v));
    EXPECT_EQ(v, crcOf(pattern(100)));
    ASSERT_TRUE(burnData("next", pattern(1000), 2048));
    ASSERT_TRUE(host.query32(0x13, &st, &v));
    EXPECT_EQ(v, ~crcOf(pattern(1000))) << "armed by crossing 7000";
}

TEST_F(Lifecycle, RestartFaults)
{
    vboard::BoardConfig c = config();
    const vboard::DeviceId id = addBoard(c);

    ASSERT_TRUE(fault(id, "other_port value=9"));
    ASSERT_TRUE(vboard::restart(id, 1));
    ASSERT_TRUE(vboard::waitPresent(id, true, 3000));
    EXPECT_FALSE(openAt(c.position));
    EXPECT_TRUE(openAt(pos("1:4:9")));
    closeBoard();

    ASSERT_TRUE(fault(id, "late value=400"));
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(vboard::restart(id, 1));
    EXPECT_FALSE(vboard::waitPresent(id, true, 200));
    ASSERT_TRUE(vboard::waitPresent(id, true, 3000));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(400));

    ASSERT_TRUE(fault(id, "no_return"));
    ASSERT_TRUE(vboard::restart(id, 1));
    EXPECT_FALSE(vboard::waitPresent(id, true, 300));
    EXPECT_TRUE(vboard::plug(id)) << "a test can still plug it back by hand";
}

TEST_F(Lifecycle, FaultTextsRoundTrip)
{
    vboard::Fault f;
    std::string err;
    ASSERT_TRUE(vboard::parseFault("timeout cmd=0x12 packet=3 stage=csw skip=1 count=0 value=9", &f, &err));
    EXPECT_EQ(vboard::faultText(f), "timeout cmd=0x12 packet=3 stage=csw skip=1 count=0 value=9");
    EXPECT_FALSE(vboard::parseFault("melt", &f, &err));
    EXPECT_FALSE(vboard::parseFault("stall cmd=x", &f, &err));
    EXPECT_FALSE(vboard::parseFault("stall stage=later", &f, &err));
}

TEST_F(Lifecycle, LinkModelChargesHighSpeedBulkTime)
{
    vboard::BoardConfig c = config();
    c.startInUpgradeMode = true;
    c.link.enabled = true;
    c.link.turnaroundUs = 50;
    const vboard::DeviceId id = addBoard(c);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(openAt(c.position));
    ASSERT_TRUE(host.command(0x10, 512, {fwcEntry("image.target.x", 64 * 65536, 0)}, &st, &dlen));
    ASSERT_TRUE(host.send(header(0x12, 64 * 65536)));
    const uint64_t before = vboard::report(id).linkBusyNs;
    const Bytes packet(65536, 0);
    for (int i = 0; i < 64; i++)
        ASSERT_TRUE(host.send(packet));
    const auto spent = std::chrono::steady_clock::now() - t0;
    const uint64_t busy = vboard::report(id).linkBusyNs;
    // Each exchange: 1 + 128 + 1 packets at 125/13 us and 3 turnarounds.
    EXPECT_EQ(busy - before, 64u * (2 * (125000 / 13) + 128 * 125000 / 13 + 3 * 50000));
    // A late answer may let the next transfer start early on the link's
    // clock, but never before the board's first transfer: the whole life
    // of the board takes at least what the link charged.
    EXPECT_GE(spent, std::chrono::nanoseconds(busy));
}

TEST(LinkModel, ChargesTheHostsDelayButNotTheBusOwn)
{
    using vboard::detail::Clock;
    vboard::BoardConfig c;
    c.link.enabled = true;
    vboard::detail::Board board(1, c);
    board.enumerated(1);
    uint8_t junk[31] = {};
    // Each of these stalled wrappers takes one packet and a turnaround.
    const auto cost = std::chrono::nanoseconds(125000 / 13 + 50000);
    const auto late = std::chrono::milliseconds(40); // wide enough for a preempted test thread

    // The bus answered 40 ms after the link was done: the next transfer
    // starts on the link as if the answer had come on time.
    const Clock::time_point first = board.transfer(0x01, junk, 31, 1000).until;
    std::this_thread::sleep_until(first + late);
    board.answered(first, Clock::now());
    const Clock::time_point second = board.transfer(0x01, junk, 31, 1000).until;
    EXPECT_LT(second - first, cost + late / 2);
    EXPECT_GE(second - first, cost);

    // The host took 40 ms before its next transfer: the link was idle.
    std::this_thread::sleep_until(second + late);
    board.answered(second, second);
    const Clock::time_point third = board.transfer(0x01, junk, 31, 1000).until;
    EXPECT_GE(third - second, cost + late);
    EXPECT_EQ(board.report().linkBusyNs, uint64_t(3 * cost.count()));
}

TEST(SharedBusModel, SharesFairlyAndWastesNoBandwidth)
{
    using vboard::detail::Clock;
    using std::chrono::milliseconds;
    vboard::detail::SharedBus bus;
    bus.setRate(1e6); // bytes per second
    const Clock::time_point t0 = Clock::now();
    Clock::time_point eta;

    // A has the bus alone for 0.5 s, then shares it with B: A ends at 1.5 s
    // and B, alone again, at 2 s, when both megabytes have crossed.
    const uint64_t a = bus.join(1000000, t0);
    const uint64_t b = bus.join(1000000, t0 + milliseconds(500));
    EXPECT_FALSE(bus.done(a, t0 + milliseconds(1000), &eta));
    EXPECT_NEAR(double((eta - t0).count()), 1.5e9, 1e3);
    EXPECT_FALSE(bus.done(b, t0 + milliseconds(1000), &eta));
    EXPECT_NEAR(double((eta - t0).count()), 2.5e9, 1e3); // while A still shares
    // A's owner looks only much later; B got the whole bus from 1.5 s all the same.
    EXPECT_FALSE(bus.done(b, t0 + milliseconds(1999), &eta));
    EXPECT_TRUE(bus.done(b, t0 + milliseconds(2000) + std::chrono::microseconds(1), &eta));
    EXPECT_TRUE(bus.done(a, t0 + milliseconds(3000), &eta));
    EXPECT_EQ(bus.pending(), 0u);

    // An empty transfer takes nothing, even behind a long one.
    const uint64_t longOne = bus.join(1000000, t0 + milliseconds(4000));
    const uint64_t empty = bus.join(0, t0 + milliseconds(4000));
    EXPECT_TRUE(bus.done(empty, t0 + milliseconds(4000), &eta));
    EXPECT_FALSE(bus.done(longOne, t0 + milliseconds(4500), &eta));
}

TEST_F(Lifecycle, TraceRecordsWrappersHeadersAndLengths)
{
    vboard::BoardConfig c = config();
    c.trace = true;
    const vboard::DeviceId id = addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    ASSERT_EQ(host.mode(), 0);
    const std::vector<std::string> t = vboard::report(id).trace;
    const std::vector<std::string> expect = {
        "ENUM mode=0",
        "CBW tag=0x00000000 len=16 dir=out",
        "HDR code=0x00 len=0",
        "RESP code=0x00 status=0 dlen=108",
        "OUT 16",
        "CSW tag=0x00000000",
        "CBW tag=0x00000001 len=16 dir=in",
        "IN 16",
        "CSW tag=0x00000001",
        "CBW tag=0x00000002 len=108 dir=in",
        "IN 108",
        "CSW tag=0x00000002",
    };
    EXPECT_EQ(t, expect);
    vboard::BoardConfig quiet = config();
    quiet.position = pos("1:5");
    const vboard::DeviceId other = addBoard(quiet);
    EXPECT_TRUE(vboard::report(other).trace.empty()) << "off by default";
}

TEST_F(Lifecycle, TraceFileGetsEveryBoardsLines)
{
    const std::string path = testing::TempDir() + "vboard_trace.txt";
    remove(path.c_str());
    vboard::setTraceFile(path);
    const vboard::BoardConfig c = config();
    addBoard(c);
    ASSERT_TRUE(openAt(c.position));
    EXPECT_EQ(host.mode(), 0);
    vboard::setTraceFile("");
    FILE *f = fopen(path.c_str(), "r");
    ASSERT_TRUE(f);
    char line[256];
    int lines = 0;
    bool sawHeader = false;
    while (fgets(line, sizeof line, f)) {
        lines++;
        sawHeader |= strstr(line, "HDR code=0x00 len=0") != nullptr;
        EXPECT_EQ(strncmp(line, "[1:4:2 #", 8), 0) << line;
    }
    fclose(f);
    EXPECT_EQ(lines, 12);
    EXPECT_TRUE(sawHeader);
}

} // namespace
