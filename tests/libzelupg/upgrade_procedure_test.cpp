// The library's burn procedures against boards of a farm: what the boards
// received, what the library said, and how long the waits took.

#include "farm_fixture.h"
#include "image_builder.h"
#include "image_test_util.h"
#include "image_upgrade.h"
#include "vboard_fixture.h"
#include "zelupg_log.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace
{

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<uint8_t> pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = 0x9e3779b9u * (seed + 1u);
    for (uint8_t &b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = uint8_t(x >> 24);
    }
    return bytes;
}

zelimg::Component component(const std::string &name, uint32_t ram, const std::string &attributes,
                            size_t size, uint8_t seed)
{
    zelimg::Component c;
    c.name = name;
    c.partition = name.substr(name.rfind('.') + 1);
    c.ram = ram;
    c.attributes = attributes;
    c.bytes = pattern(size, seed);
    return c;
}

zelimg::ImageDesc header()
{
    zelimg::ImageDesc d;
    d.platform = "zk3308";
    d.product = "procedures";
    d.version = "1.0";
    d.mediaType = "emmc";
    d.mediaDeviceNumber = 2;
    d.mediaId = "mmc0";
    return d;
}

// Loader stages, a target of targetSize bytes, the environment, a small target.
zelimg::ImageDesc loaderImage(size_t targetSize, size_t ubootSize = 70000)
{
    zelimg::ImageDesc d = header();
    d.components.push_back(component("updater.spl", 0x200000, "run", 6000, 1));
    d.components.push_back(component("updater.uboot", 0x600000, "run", ubootSize, 2));
    d.components.push_back(component("image.target.kernel", 0, "burn", targetSize, 3));
    d.components.push_back(zelimg::envComponent("4m(kernel),-(rootfs)"));
    d.components.push_back(component("image.target.rootfs", 0, "burn", 5000, 4));
    return d;
}

zelimg::ImageDesc targetImage(size_t size)
{
    zelimg::ImageDesc d = header();
    d.components.push_back(component("image.target.data", 0, "burn", size, 9));
    return d;
}

// One FWC as a farm board reports it.
struct Received {
    std::string name;
    uint32_t size;
    uint64_t received;
    uint32_t crc;
    bool complete;
};

std::vector<Received> parseReceived(const std::string &text)
{
    std::vector<Received> out;
    const std::regex line("  fwc \"([^\"]*)\".* size=(\\d+) received=(\\d+) crc=0x([0-9a-f]+)(.*)");
    std::istringstream in(text);
    std::string l;
    std::smatch m;
    while (std::getline(in, l))
        if (std::regex_match(l, m, line))
            out.push_back({m[1], uint32_t(std::stoul(m[2])), std::stoull(m[3]),
                           uint32_t(std::stoul(m[4], nullptr, 16)),
                           m[5].str().find(" complete") != std::string::npos});
    return out;
}

uint32_t padded(size_t size, uint32_t block)
{
    return uint32_t((size + block - 1) / block * block);
}

std::vector<std::string> plainLines(const LogCapture &log)
{
    std::vector<std::string> out;
    for (const LogLine &l : log.lines())
        if (l.level == ZELUPG_LOG_PLAIN)
            out.push_back(l.text);
    return out;
}

bool contains(const std::vector<std::string> &lines, const std::string &text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

class UpgradeProcedure : public FarmTest
{
protected:
    void TearDown() override
    {
        upg_set_progress_hook(nullptr, nullptr);
        upg_set_verbose_scan(0);
        upg_dev_close(dev);
        FarmTest::TearDown();
    }

    std::string writeImage(const zelimg::ImageDesc &desc, const std::string &name = "image.img")
    {
        const std::string path = dir() + "/" + name;
        std::string error;
        EXPECT_TRUE(zelimg::writeImage(desc, path, &error)) << error;
        return path;
    }

    upg_device *open(const std::string &position)
    {
        vboard::UsbPosition pos;
        EXPECT_TRUE(vboard::UsbPosition::parse(position, &pos));
        upg_dev_close(dev);
        dev = openAt(pos);
        return dev;
    }

    std::vector<Received> received(const std::string &position)
    {
        return parseReceived(farm("received " + position));
    }

    // Command codes of the headers the board at position saw since tracing began.
    std::vector<int> commandsSeen(const std::string &traceFile)
    {
        std::ifstream in(traceFile);
        std::vector<int> codes;
        std::string l;
        const std::regex hdr(".*HDR code=0x([0-9a-f]+) .*");
        std::smatch m;
        while (std::getline(in, l))
            if (std::regex_match(l, m, hdr))
                codes.push_back(std::stoi(m[1], nullptr, 16));
        return codes;
    }

    LogCapture log;
    upg_device *dev = nullptr;
    upg_port port = {};
};

void recordProgress(const upg_progress *p, void *user)
{
    static_cast<std::vector<upg_progress> *>(user)->push_back(*p);
}

TEST_F(UpgradeProcedure, FullBurnSendsEveryComponentAndFindsTheBoardAgainAfterItsLoader)
{
    startFarm("--board 1:3 block=4096 restart_delay=100");
    const zelimg::ImageDesc desc = loaderImage(2500000);
    const std::string image = writeImage(desc);
    std::vector<upg_progress> progress;
    upg_set_progress_hook(recordProgress, &progress);
    open("1:3");

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), 0)
        << testing::PrintToString(log.nonDebug());
    EXPECT_EQ(upg_last_failure(), UPG_FAIL_NONE);
    // One rescan missed the restarting board, the next one two seconds later found it.
    EXPECT_GE(secondsSince(start), 2.0);
    EXPECT_EQ(port.bus, 1);
    EXPECT_EQ(port.port_path[0], 3);

    const std::vector<Received> fwcs = received("1:3");
    ASSERT_EQ(fwcs.size(), desc.components.size());
    for (size_t i = 0; i < fwcs.size(); i++) {
        const zelimg::Component &c = desc.components[i];
        EXPECT_EQ(fwcs[i].name, c.name);
        EXPECT_EQ(fwcs[i].size, c.bytes.size());
        EXPECT_EQ(fwcs[i].received, padded(c.bytes.size(), 4096)) << c.name;
        EXPECT_EQ(fwcs[i].crc, zelimg::crc32Of(c.bytes)) << c.name;
        EXPECT_TRUE(fwcs[i].complete) << c.name;
    }
    const std::string state = farm("received 1:3");
    EXPECT_NE(state.find("restarts=1"), std::string::npos) << state;
    EXPECT_NE(state.find("upgrade_config first_byte=0\n"), std::string::npos) << state;
    EXPECT_NE(state.find("upgrade_end 1\n"), std::string::npos) << state;

    // The 2500000-byte target: two 1 MiB chunks and a rest of 402848 padded to 405504.
    const std::vector<std::string> plain = plainLines(log);
    const auto kernel = std::find(plain.begin(), plain.end(),
                                  "\nUpgrade fwc: image.target.kernel, size 2500000 ...");
    ASSERT_NE(kernel, plain.end());
    EXPECT_EQ(std::vector<std::string>(kernel + 1, kernel + 4),
              (std::vector<std::string>{"Send the 0 block, size 1MB", "Send the 1 block, size 1MB",
                                        "Send the rest 405504"}));
    EXPECT_EQ(log.count(ZELUPG_LOG_INFO, "__do_fwc_upgrade", "Waiting for uboot bringup ..."), 1);
    EXPECT_TRUE(contains(plain, "Bus:Port 1:3 connected"));
    EXPECT_TRUE(contains(plain, "\nBurn " + image + " successfully!"));
    EXPECT_EQ(std::count_if(plain.begin(), plain.end(),
                            [](const std::string &l) { return l.rfind("Used time: ", 0) == 0; }),
              1);
    // Restart errors are the library's own transfer messages, nothing else.
    EXPECT_EQ(log.countPrefix(ZELUPG_LOG_ERR, "image_do_upgrade_inner", ""), 0);

    // Progress counts the components' own bytes and ends at their sum.
    ASSERT_FALSE(progress.empty());
    uint64_t total = 0;
    for (const zelimg::Component &c : desc.components)
        total += c.bytes.size();
    EXPECT_EQ(progress.back().total_size, total);
    EXPECT_EQ(progress.back().total_sent, total);
    EXPECT_EQ(progress.back().fwc_count, 5);
}

TEST_F(UpgradeProcedure, ChunksAreWholeBlocksAndTheRestIsPaddedToABlock)
{
    startFarm("--board 1:1 --board 1:2 upgrade=1");
    farm("set 1:1 block=3000");
    farm("set 1:2 block=2097152");

    // Block 3000: chunks of 349 blocks (1047000 bytes, printed in KB).
    const std::string small = writeImage(targetImage(2 * 1047000 + 10), "small.img");
    open("1:1");
    EXPECT_EQ(image_do_upgrade(dev, small.c_str(), &port), 0);
    std::vector<std::string> plain = plainLines(log);
    EXPECT_EQ(std::vector<std::string>(plain.begin() + 2, plain.begin() + 5),
              (std::vector<std::string>{"Send the 0 block, size 1022KB",
                                        "Send the 1 block, size 1022KB", "Send the rest 3000"}));
    ASSERT_EQ(received("1:1").size(), 1u);
    EXPECT_EQ(received("1:1")[0].received, 2097000u);
    EXPECT_TRUE(received("1:1")[0].complete);

    // Block 2 MiB: the chunk is one block; the 100-byte rest goes out as a whole block.
    log.clear();
    const std::string big = writeImage(targetImage(2 * 2097152 + 100), "big.img");
    open("1:2");
    EXPECT_EQ(image_do_upgrade(dev, big.c_str(), &port), 0);
    plain = plainLines(log);
    EXPECT_EQ(std::vector<std::string>(plain.begin() + 2, plain.begin() + 5),
              (std::vector<std::string>{"Send the 0 block, size 2MB", "Send the 1 block, size 2MB",
                                        "Send the rest 2097152"}));
    const std::vector<Received> fwcs = received("1:2");
    ASSERT_EQ(fwcs.size(), 1u);
    EXPECT_EQ(fwcs[0].received, 3u * 2097152);
    EXPECT_EQ(fwcs[0].crc, zelimg::crc32Of(targetImage(2 * 2097152 + 100).components[0].bytes));
}

TEST_F(UpgradeProcedure, BoardsThatComeBackLateAreWaitedForAndBoardsThatNeverDoAreLost)
{
    startFarm("--board 1:5 --board 1:6 restart_delay=100");
    farm("fault 1:5 no_return");
    farm("fault 1:6 late value=5000");
    const std::string image = writeImage(loaderImage(4096));

    // Back after 5 s: found by the fourth rescan, at 6 s.
    open("1:6");
    Clock::time_point start = Clock::now();
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), 0);
    EXPECT_GE(secondsSince(start), 6.0);
    EXPECT_EQ(received("1:6").size(), 5u);

    // Never back: ten rescans two seconds apart, then the burn fails.
    log.clear();
    upg_set_verbose_scan(1);
    open("1:5");
    imagetest::StdoutCapture out;
    start = Clock::now();
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), -1);
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 18.0);
    EXPECT_LT(elapsed, 25.0);
    EXPECT_EQ(upg_last_failure(), UPG_FAIL_LOST);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "image_do_upgrade_inner", "No device is connected"), 1);
    // The rescans say what they try through the log hook alone.
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(log.count(ZELUPG_LOG_INFO, "image_do_upgrade_inner",
                        "Bus:Port 1:5 maybe was disconnected!"),
              1);
    EXPECT_EQ(log.count(ZELUPG_LOG_INFO, "upg_scan_device", "1. Try to scan Bus:Port 1:5..."), 1);
    EXPECT_EQ(log.count(ZELUPG_LOG_INFO, "upg_scan_device", "10. Try to scan Bus:Port 1:5..."), 1);
    EXPECT_EQ(log.count(ZELUPG_LOG_INFO, "upg_scan_device", "11. Try to scan Bus:Port 1:5..."), 0);
    EXPECT_EQ(received("1:5").size(), 2u);
}

// Behind a real host controller the board's departure after its loader
// stage often shows as "no device" rather than a stall or an I/O error.
TEST_F(UpgradeProcedure, ABoardAlreadyGoneAfterItsLoaderStageHasRestarted)
{
    startFarm("--board 1:7 restart_delay=100 restart_answer=gone");
    const zelimg::ImageDesc desc = loaderImage(300000);
    const std::string image = writeImage(desc);
    open("1:7");
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), 0)
        << testing::PrintToString(log.nonDebug());
    EXPECT_EQ(received("1:7").size(), desc.components.size());
    EXPECT_NE(farm("received 1:7").find("restarts=1"), std::string::npos);
}

TEST_F(UpgradeProcedure, FailuresOtherThanARestartEndTheBurnWithTheirKind)
{
    startFarm("--board 1:1 --board 1:2 --board 1:3 --board 1:4 upgrade=1 timeout_cap=200");
    farm("fault 1:1 timeout cmd=0x13");
    farm("fault 1:2 crc");
    farm("fault 1:3 burn_fail value=5");
    farm("fault 1:4 nodev bytes=100000");
    const std::string image = writeImage(targetImage(300000));

    // A timeout is final: no rescan.
    open("1:1");
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), -1);
    EXPECT_LT(secondsSince(start), 2.0);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "image_do_upgrade_inner",
                        "Error, fwc upgrade failed., usb last error -7"),
              1);
    EXPECT_EQ(upg_last_failure(), UPG_FAIL_OTHER);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "image_do_upgrade_inner", "No device is connected"), 0);

    open("1:2");
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), -1);
    EXPECT_EQ(upg_last_failure(), UPG_FAIL_VERIFY);
    const uint32_t crc = zelimg::crc32Of(targetImage(300000).components[0].bytes);
    char expected[80];
    std::snprintf(expected, sizeof(expected), "Error, get fwc crc failed. expect 0x%X, got 0x%X",
                  crc, ~crc);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "__do_fwc_upgrade", expected), 1);

    open("1:3");
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), -1);
    EXPECT_EQ(upg_last_failure(), UPG_FAIL_VERIFY);
    EXPECT_EQ(
        log.count(ZELUPG_LOG_ERR, "__do_fwc_upgrade", "Error, FWC burn result 5 failed. return 0"),
        1);

    open("1:4");
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), -1);
    EXPECT_EQ(upg_last_failure(), UPG_FAIL_LOST);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "image_do_upgrade_inner",
                        "Error, fwc upgrade failed., usb last error -4"),
              1);
}

// Only a board that leaves once a loader stage's data is all sent restarts.
// A stall or a board gone in the middle of a component cut it short: the
// burn fails there, nothing after it is sent and no rescan hides it.
TEST_F(UpgradeProcedure, TransferErrorsInsideAComponentAreNoRestart)
{
    startFarm("--board 1:1 --board 1:2 restart_delay=100");
    farm("fault 1:1 stall bytes=200000");
    farm("fault 1:2 io bytes=20000");
    const zelimg::ImageDesc desc = loaderImage(300000);
    const std::string image = writeImage(desc);

    open("1:1");
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), -1);
    EXPECT_EQ(upg_last_failure(), UPG_FAIL_OTHER);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "image_do_upgrade_inner",
                        "Error, fwc upgrade failed., usb last error -9"),
              1);
    std::vector<Received> fwcs = received("1:1");
    ASSERT_EQ(fwcs.size(), 3u);
    EXPECT_EQ(fwcs[2].name, "image.target.kernel");
    EXPECT_FALSE(fwcs[2].complete);

    // In the middle of a loader stage: no restart either.
    log.clear();
    open("1:2");
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), -1);
    EXPECT_LT(secondsSince(start), 2.0);
    EXPECT_EQ(upg_last_failure(), UPG_FAIL_LOST);
    EXPECT_EQ(log.count(ZELUPG_LOG_INFO, "__do_fwc_upgrade", "Waiting for uboot bringup ..."), 0);
    fwcs = received("1:2");
    ASSERT_EQ(fwcs.size(), 2u);
    EXPECT_FALSE(fwcs[1].complete);
}

// The run up to the upgrade firmware sends the loader stages that lead the
// table and nothing that would go into storage, whatever stands third.
TEST_F(UpgradeProcedure, RunToUbootSendsTheLeadingLoaderStagesOnly)
{
    startFarm("--board 1:1 --board 1:2 restart_delay=100");
    const std::string image = writeImage(loaderImage(4096));
    open("1:1");
    EXPECT_EQ(run_to_uboot(dev, image.c_str(), &port), 0) << testing::PrintToString(log.nonDebug());
    std::vector<Received> fwcs = received("1:1");
    ASSERT_EQ(fwcs.size(), 2u);
    EXPECT_EQ(fwcs[1].name, "updater.uboot");
    EXPECT_NE(farm("state 1:1").find("mode=1 "), std::string::npos);

    zelimg::ImageDesc one = header();
    one.components.push_back(component("updater.uboot", 0x600000, "run", 7000, 2));
    one.components.push_back(component("image.target.kernel", 0, "burn", 5000, 3));
    one.components.push_back(component("updater.late", 0x600000, "run", 7000, 5));
    const std::string short_image = writeImage(one, "one.img");
    open("1:2");
    EXPECT_EQ(run_to_uboot(dev, short_image.c_str(), &port), 0);
    fwcs = received("1:2");
    ASSERT_EQ(fwcs.size(), 1u);
    EXPECT_EQ(fwcs[0].name, "updater.uboot");
}

TEST_F(UpgradeProcedure, PingsWithoutAValidAnswerFailTheBurnInsteadOfGoingOn)
{
    startFarm("--board 1:2 upgrade=1");
    farm("fault 1:2 resp_len cmd=0x00 count=0");
    const std::string image = writeImage(targetImage(5000));
    open("1:2");
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), -1);
    EXPECT_GE(secondsSince(start), 9.0);
    EXPECT_EQ(upg_last_failure(), UPG_FAIL_LOST);
    EXPECT_EQ(log.count(ZELUPG_LOG_INFO, "__ping_device", "Ping device ... 9"), 1);
    EXPECT_EQ(log.count(ZELUPG_LOG_INFO, "__ping_device", "Ping device ... 10"), 0);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "image_do_upgrade_inner", "Error, device is disconnect"),
              1);
    EXPECT_TRUE(received("1:2").empty());
}

TEST_F(UpgradeProcedure, EachProcedureStartsWithoutTheUpgradeModeOfTheBoardBefore)
{
    startFarm("--board 1:1 --board 1:2 upgrade=1");
    const std::string image = writeImage(targetImage(5000));
    for (const char *position : {"1:1", "1:2"}) {
        open(position);
        EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), 0);
        // Each board gets its configuration when it first reports upgrade mode.
        const std::string state = farm(std::string("received ") + position);
        EXPECT_NE(state.find("upgrade_config first_byte=0\n"), std::string::npos)
            << position << "\n"
            << state;
    }
}

TEST_F(UpgradeProcedure, ComponentsPastTheEndOfTheFileAreRefusedBeforeTheBoardIsTouched)
{
    startFarm("--board 1:2 upgrade=1");
    const std::string trace = dir() + "/trace.txt";
    farm("trace " + trace);
    const std::string image = writeImage(loaderImage(4096));
    // The kernel entry claims one byte more than the file holds behind it.
    {
        std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(0, std::ios::end);
        const uint64_t length = uint64_t(f.tellg());
        f.seekg(zelimg::ImageLayout::entry(2) + zelimg::ImageLayout::kFwcOffset);
        uint8_t raw[4];
        f.read(reinterpret_cast<char *>(raw), 4);
        const uint32_t offset = raw[0] | raw[1] << 8 | raw[2] << 16 | uint32_t(raw[3]) << 24;
        const uint32_t size = uint32_t(length - offset + 1);
        const uint8_t patched[4] = {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16),
                                    uint8_t(size >> 24)};
        f.seekp(zelimg::ImageLayout::entry(2) + zelimg::ImageLayout::kFwcSize);
        f.write(reinterpret_cast<const char *>(patched), 4);
    }
    open("1:2");
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), -1);
    EXPECT_EQ(upg_last_failure(), UPG_FAIL_IMAGE);
    EXPECT_EQ(log.countPrefix(ZELUPG_LOG_ERR, "image_do_upgrade_inner",
                              "Error, FWC 2 \"image.target.kernel\""),
              1);
    EXPECT_EQ(
        log.count(ZELUPG_LOG_ERR, "image_do_upgrade_inner", "Burn " + image + " failed!, ret -1"),
        1);
    EXPECT_EQ(image_do_ramboot(dev, "updater.uboot", 0x40000000, image.c_str(), &port), -1);
    EXPECT_EQ(upg_last_failure(), UPG_FAIL_IMAGE);
    farm("trace off");
    EXPECT_TRUE(commandsSeen(trace).empty());
}

TEST_F(UpgradeProcedure, RambootRunsTheLoaderStagesThenWritesTheNamedComponentAndStartsIt)
{
    startFarm("--board 1:1 restart_delay=100");
    farm("plug board 1:2 upgrade=1");
    const std::string trace = dir() + "/trace.txt";
    farm("trace " + trace);
    const zelimg::ImageDesc desc = loaderImage(4096, 1500000);
    const std::string image = writeImage(desc);
    const std::vector<uint8_t> &uboot = desc.components[1].bytes;

    // From the loader: both stages run, the board restarts, then the writes.
    open("1:1");
    EXPECT_EQ(image_do_ramboot(dev, "updater.uboot", 0x40000000, image.c_str(), &port), 0)
        << testing::PrintToString(log.nonDebug());
    const std::vector<Received> fwcs = received("1:1");
    ASSERT_EQ(fwcs.size(), 2u);
    EXPECT_EQ(fwcs[1].name, "updater.uboot");
    std::string state = farm("received 1:1");
    EXPECT_NE(state.find("  shell \"ram_boot 0x40000000 emmc 2\"\n"), std::string::npos) << state;
    EXPECT_NE(state.find("  write 0x40000000 1048576\n  write 0x40100000 451424\n"),
              std::string::npos)
        << state;

    // Already in upgrade mode: only the ping (and the first configuration)
    // come before the writes; no component is burned.
    farm("trace off");
    farm("trace " + trace + ".2");
    open("1:2");
    // A name that is only a prefix of a component's is no component.
    EXPECT_EQ(image_do_ramboot(dev, "updater", 0x40000000, image.c_str(), &port), -1);
    EXPECT_EQ(upg_last_failure(), UPG_FAIL_IMAGE);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "image_do_ramboot",
                        "Error, no FWC named \"updater\" in " + image),
              1);
    EXPECT_EQ(image_do_ramboot(dev, "updater.uboot", 0x40000000, image.c_str(), &port), 0);
    farm("trace off");
    EXPECT_EQ(commandsSeen(trace + ".2"),
              (std::vector<int>{0x00, 0x0A, 0x00, 0x0A, 0x02, 0x02, 0x05}));
    EXPECT_TRUE(received("1:2").empty());
    state = farm("received 1:2");
    EXPECT_NE(state.find("  shell \"ram_boot 0x40000000 emmc 2\"\n"), std::string::npos) << state;
    EXPECT_EQ(state.find("  shell", state.find("  shell") + 1), std::string::npos) << state;

    // The bytes on both sides of the piece boundary landed where they were sent.
    std::string expected = "ok\n  0000:";
    for (size_t i = 1048572; i < 1048580; i++) {
        char byte[8];
        std::snprintf(byte, sizeof(byte), " %02x", uboot[i]);
        expected += byte;
    }
    EXPECT_EQ(farm("memory 1:2 0x400FFFFC 8"), expected + "\n");
}

TEST_F(UpgradeProcedure, StorageMediaIsAskedAgainOnceTheRestartedBoardIsBack)
{
    startFarm("--board 1:4 --board 1:5 upgrade=1 restart_delay=100 media=emmc0");
    farm("set 1:5 media=");
    open("1:4");
    farm("restart 1:4 mode=1");
    uint8_t *answer = nullptr;
    EXPECT_EQ(get_storage_media(dev, &answer, &port), 5);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(answer), 5), "emmc0");
    std::free(answer);
    EXPECT_TRUE(contains(plainLines(log), "Bus:Port 1:4 connected"));

    // A board that answers "no media" has not left: no rescans.
    open("1:5");
    answer = nullptr;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(get_storage_media(dev, &answer, &port), -1);
    EXPECT_LT(secondsSince(start), 1.0);
    EXPECT_EQ(answer, nullptr);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "zelupg_cmd_get_storage_media",
                        "no available storage media devices"),
              1);
}

// Wire-exact: the board in its loader takes the entry of a target component,
// but the host refuses to send its data before the upgrade firmware runs.
class UpgradeWire : public VboardTest
{
};

TEST_F(UpgradeWire, ATargetComponentIsNotSentToABoardInItsLoader)
{
    char dirTemplate[] = "/tmp/zelupg-wire-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string image = std::string(dirTemplate) + "/target.img";
    std::string error;
    ASSERT_TRUE(zelimg::writeImage(targetImage(5000), image, &error)) << error;
    // The entry goes to the board as the image holds it: bytes behind the
    // name's NUL and in the reserved tail included.
    std::vector<uint8_t> entry(512);
    {
        std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(zelimg::ImageLayout::entry(0));
        f.read(reinterpret_cast<char *>(entry.data()), 512);
        entry[zelimg::ImageLayout::kFwcName + 60] = 0x5A;
        for (size_t i = 216; i < 512; i++)
            entry[i] = uint8_t(i * 7 + 1);
        f.seekp(zelimg::ImageLayout::entry(0));
        f.write(reinterpret_cast<const char *>(entry.data()), 512);
    }
    std::vector<uint8_t> hwinfo(108, 0);
    hwinfo[40] = 0;

    Wire wire;
    wire.header(0x00, 0).resp(0, 108).recv(hwinfo);
    wire.header(0x10, 512).send(entry).resp(0, 0);
    wire.header(0x11, 0).resp(0, 4).recv(Wire::le32(4096));
    wire.header(0x0B, 36).u32(32).send(std::vector<uint8_t>(32, 0)).resp(0, 0);
    upg_port port = {};
    ASSERT_NE(scripted(wire), nullptr);
    EXPECT_EQ(image_do_upgrade(dev, image.c_str(), &port), -1);
    EXPECT_TRUE(scriptDone());
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "__do_fwc_upgrade", "Error, device status invalid."), 1);
    EXPECT_EQ(log.count(ZELUPG_LOG_ERR, "image_do_upgrade_inner",
                        "Error, fwc upgrade failed., usb last error 0"),
              1);
    std::remove(image.c_str());
    rmdir(dirTemplate);
}

} // namespace
