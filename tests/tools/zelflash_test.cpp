// zelflash as a user runs it: the real program, with the libusb test library
// first in its library path, against boards of a farm.

#include "image_builder.h"
#include "vboard_host.h"
#include "vboard_serial.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string lastLine(const std::string &text)
{
    const size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos)
        return "";
    const size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - start);
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

zelimg::ImageDesc targetImage(size_t size)
{
    zelimg::ImageDesc d = zelimg::sampleImage(1024);
    d.components.clear();
    zelimg::Component c;
    c.name = "image.target.data";
    c.partition = "data";
    c.attributes = "burn";
    c.bytes = pattern(size, 7);
    d.components.push_back(c);
    return d;
}

class Zelflash : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/zelflash-test-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        m_socket = m_dir + "/farm.sock";
    }

    void TearDown() override
    {
        if (m_started)
            farm("stop");
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    void startFarm(const std::string &args)
    {
        const std::string start =
            std::string(VBOARD_FARM) + " start --socket " + m_socket + " " + args + " >/dev/null";
        ASSERT_EQ(std::system(start.c_str()), 0);
        m_started = true;
    }

    std::string farm(const std::string &line)
    {
        std::string reply;
        vboard::farmCommand(m_socket, line, &reply);
        return reply;
    }

    std::string writeImage(const zelimg::ImageDesc &desc, const std::string &name)
    {
        const std::string path = m_dir + "/" + name;
        std::string error;
        EXPECT_TRUE(zelimg::writeImage(desc, path, &error)) << error;
        return path;
    }

    std::string environment() const
    {
        return "ZEL_VBOARD_FARM='" + m_socket + "' LD_LIBRARY_PATH='" + VUSB_DIR + "' ";
    }

    // zelflash with args, its output into files (so not a terminal).
    CliRun zelflash(const std::string &args)
    {
        const std::string out = m_dir + "/out.txt", err = m_dir + "/err.txt";
        const std::string cmd =
            environment() + ZELFLASH + " " + args + " >'" + out + "' 2>'" + err + "'";
        const int raw = std::system(cmd.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
    }

    // In a child process: becomes zelflash with args, against the farm.
    [[noreturn]] void execZelflash(const std::vector<std::string> &args)
    {
        setenv(vboard::kFarmEnv, m_socket.c_str(), 1);
        setenv("LD_LIBRARY_PATH", VUSB_DIR, 1);
        std::vector<char *> argv{const_cast<char *>(ZELFLASH)};
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(ZELFLASH, argv.data());
        _exit(127);
    }

    // zelflash with args, its standard output and error on a pseudo-terminal.
    CliRun zelflashOnTerminal(const std::vector<std::string> &args)
    {
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            execZelflash(args);
        }
        CliRun run;
        if (pid < 0)
            return run;
        char buf[4096];
        ssize_t n;
        while ((n = read(master, buf, sizeof(buf))) > 0)
            run.out.append(buf, size_t(n));
        close(master);
        int raw = 0;
        waitpid(pid, &raw, 0);
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        return run;
    }

    // zelflash with args in the background, its output into files; the pid.
    pid_t startZelflash(const std::vector<std::string> &args)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            if (!freopen((m_dir + "/bg.out").c_str(), "w", stdout) ||
                !freopen((m_dir + "/bg.err").c_str(), "w", stderr))
                _exit(127);
            execZelflash(args);
        }
        return pid;
    }

    CliRun finishZelflash(pid_t pid)
    {
        int raw = 0;
        waitpid(pid, &raw, 0);
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(m_dir + "/bg.out"),
                readFile(m_dir + "/bg.err")};
    }

    std::string m_dir;
    std::string m_socket;
    bool m_started = false;
};

// Waits up to ten seconds for the condition.
template <typename Condition>
bool eventually(Condition condition)
{
    for (int i = 0; i < 1000 && !condition(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return condition();
}

std::vector<QJsonObject> jsonLines(const std::string &text)
{
    std::vector<QJsonObject> objects;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        EXPECT_TRUE(doc.isObject()) << line;
        objects.push_back(doc.object());
    }
    return objects;
}

std::string crcText(uint32_t crc)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08x", crc);
    return text;
}

TEST_F(Zelflash, BurnsTheSampleImageIntoTheOnlyBoardWithProgressAsLines)
{
    startFarm("--board 1:2 restart_delay=100");
    const zelimg::ImageDesc desc = zelimg::sampleImage(3 * 1024 * 1024 + 5);
    const std::string image = writeImage(desc, "sample.img");

    const CliRun run = zelflash("burn " + image);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    // The transfer errors of the restart after the loader are not shown.
    EXPECT_EQ(run.err, "");
    uint64_t total = 0;
    for (const zelimg::Component &c : desc.components)
        total += c.bytes.size();
    const std::string done = std::to_string(total) + "/" + std::to_string(total) + " bytes";
    EXPECT_NE(run.out.find("progress 100% " + done), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("progress   0% 0/" + std::to_string(total) + " bytes, --.- MB/s"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Waiting for uboot bringup ...\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nBurn " + image + " successfully!\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_EQ(lastLine(run.out), "burn done on the board at 1:2");

    const std::string received = farm("received 1:2");
    for (const zelimg::Component &c : desc.components) {
        char crc[16];
        std::snprintf(crc, sizeof(crc), "0x%08x", zelimg::crc32Of(c.bytes));
        const std::regex line("  fwc \"" + c.name + "\".* size=" + std::to_string(c.bytes.size()) +
                              " received=\\d+ crc=" + crc + " .*complete.*");
        EXPECT_TRUE(std::regex_search(received, line)) << c.name << "\n" << received;
    }
    EXPECT_NE(received.find("upgrade_end 1\n"), std::string::npos) << received;
}

TEST_F(Zelflash, OnATerminalTheProgressIsABarRedrawnInPlace)
{
    // At link speed the burn lasts long enough for a speed to be shown.
    startFarm("--board 1:1 upgrade=1 link=1");
    const std::string image = writeImage(targetImage(16 * 1024 * 1024), "target.img");
    const CliRun run = zelflashOnTerminal({"burn", image});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("\r[........................]   0% 0.0/16.0 MiB  --.- MB/s  --:-- left  "
                           "image.target.data"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\r[########################] 100% 16.0/16.0 MiB  "), std::string::npos)
        << run.out;
    EXPECT_TRUE(std::regex_search(run.out, std::regex("\\] 100% 16\\.0/16\\.0 MiB  [0-9.]+ MB/s  "
                                                      "0:00 left  image\\.target\\.data")))
        << run.out;
    EXPECT_EQ(run.out.find("progress "), std::string::npos);
    EXPECT_NE(run.out.find("burn done on the board at 1:1"), std::string::npos) << run.out;
}

TEST_F(Zelflash, EachFailureKindHasItsOwnExitStatusAndLine)
{
    startFarm("--hubs 1");
    const std::string image = writeImage(targetImage(300000), "target.img");
    const std::string garbage = m_dir + "/garbage.img";
    std::ofstream(garbage) << std::string(4096, 'x');

    CliRun run = zelflash("burn " + image);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "zelflash: no board in burn mode\n");
    EXPECT_EQ(zelflash("list").status, 3);

    run = zelflash("burn");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zelflash burn: expected one IMAGE (see \"zelflash help burn\")\n");
    run = zelflash("burn -p 1:x " + image);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zelflash: \"1:x\" is neither a port text (bus:port[:port...], e.g. 1:2:4) "
                       "nor a serial port (/dev/..., COMn)\n");

    farm("plug board 1:1 upgrade=1 timeout_cap=200");
    farm("plug board 1:2 upgrade=1");
    run = zelflash("burn " + image);
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.err,
              "zelflash: several boards in burn mode (1:1, 1:2); choose one with --port\n");

    run = zelflash("burn -p 1:9 " + image);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(lastLine(run.err),
              "zelflash: no board in burn mode at 1:9 (or another program holds it)");

    run = zelflash("burn -p 1:1 " + garbage);
    EXPECT_EQ(run.status, 5);
    EXPECT_EQ(lastLine(run.err),
              "zelflash: image \"" + garbage + "\" is not an image (no \"ZEL.FW\" header)");

    farm("fault 1:1 nodev bytes=100000");
    run = zelflash("burn -p 1:1 " + image);
    EXPECT_EQ(run.status, 6);
    EXPECT_EQ(lastLine(run.err), "zelflash: the board at 1:1 was lost");

    farm("fault 1:2 crc");
    run = zelflash("burn -p 1:2 " + image);
    EXPECT_EQ(run.status, 7);
    EXPECT_EQ(lastLine(run.err), "zelflash: the board at 1:2 failed verification");
    EXPECT_NE(run.err.find("zelflash: Error, get fwc crc failed. expect 0x"), std::string::npos)
        << run.err;

    farm("fault 1:2 block0");
    run = zelflash("burn -q -p 1:2 " + image);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(lastLine(run.err), "zelflash: burn failed on the board at 1:2");
}

TEST_F(Zelflash, ListsBoardsRunsToTheUpgradeFirmwareRambootsAndAsksTheMedia)
{
    startFarm("--board 1:1 restart_delay=100");
    farm("plug board 1:2:3 upgrade=1 media=emmc0");
    const zelimg::ImageDesc desc = zelimg::sampleImage(4096);
    const std::string image = writeImage(desc, "sample.img");

    CliRun run = zelflash("list");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(std::regex_match(run.out, std::regex("1:1 +loader +address \\d+\n"
                                                     "1:2:3 +upgrade +address \\d+\n")))
        << run.out;

    run = zelflash("media -p 1:2:3");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "emmc0\n");

    // Quiet is quiet: nothing at all on standard output, the library's lines
    // of the restart and its components included. Only the loader stages go
    // to the board: the kernel that stands third stays out of its storage.
    run = zelflash("uboot -q -p 1:1 " + image);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_NE(farm("state 1:1").find("mode=1 "), std::string::npos);
    EXPECT_NE(farm("received 1:1").find("fwcs=2 "), std::string::npos) << farm("received 1:1");

    run = zelflash("ramboot -p 1:2:3 -a 0x41000000 " + image + " updater.uboot");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string received = farm("received 1:2:3");
    EXPECT_NE(received.find("  shell \"ram_boot 0x41000000 emmc 0\"\n"), std::string::npos)
        << received;
    EXPECT_NE(received.find("  write 0x41000000 " +
                            std::to_string(desc.components[1].bytes.size()) + "\n"),
              std::string::npos)
        << received;

    for (const char *command : {"list", "burn", "uboot", "ramboot", "media", "check"}) {
        for (const std::string &asked :
             {std::string(command) + " --help", std::string("help ") + command}) {
            run = zelflash(asked);
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.out.rfind(std::string("usage: zelflash ") + command, 0), 0u) << run.out;
        }
    }
    run = zelflash("--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(std::regex_match(run.out, std::regex("zelflash \\d+\\.\\d+\\.\\d+\n"))) << run.out;
    run = zelflash("ramboot -p 1:2:3 " + image + " updater.uboot");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zelflash ramboot: option -a ADDRESS is required (see \"zelflash help "
                       "ramboot\")\n");
}

// The whole burn over a serial line, through the loader stage's restart, on
// a line that adds noise (stray frame starts among it) and loses ACKs both
// ways; then a serial board that vanishes mid-burn is reported lost.
TEST_F(Zelflash, BurnsOverASerialLineThroughRestartNoiseAndLostAcks)
{
    startFarm("--hubs 1"); // a USB bus without boards: the library starts as anywhere
    vboard::SerialConfig config;
    config.board.keepData = true;
    config.board.restartDelayMs = 200;
    auto board = std::make_unique<vboard::SerialBoard>(config);
    ASSERT_TRUE(board->ok()) << board->error();
    using K = vboard::SerialFaultKind;
    using P = vboard::SerialPoint;
    board->addFault({K::FalseStart, P::BoardFrame, 3, 1, 6});
    board->addFault({K::Noise, P::BoardFrame, 12, 1, 5});
    board->addFault({K::LostAck, P::BoardFrame, 25, 1});
    board->addFault({K::LostAck, P::HostFrame, 9, 1});
    board->addFault({K::LostAck, P::HostFrame, 30, 1});
    const zelimg::ImageDesc desc = zelimg::sampleImage(5000);
    const std::string image = writeImage(desc, "serial.img");

    CliRun run = zelflash("burn -p " + board->path() + " " + image);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(lastLine(run.out), "burn done on the board at " + board->path());
    const vboard::BoardReport received = board->boardReport();
    ASSERT_EQ(received.fwcs.size(), desc.components.size());
    for (size_t i = 0; i < desc.components.size(); i++) {
        EXPECT_EQ(received.fwcs[i].name, desc.components[i].name);
        EXPECT_EQ(received.fwcs[i].data, desc.components[i].bytes) << received.fwcs[i].name;
    }
    const vboard::SerialReport line = board->report();
    EXPECT_EQ(line.restarts, 1);
    EXPECT_EQ(received.mode, 1);
    // The host sent the blocks whose ACK was lost once more and the board
    // took them once.
    EXPECT_EQ(std::count_if(line.hostFrames.begin(), line.hostFrames.end(),
                            [](const vboard::SerialFrameRecord &f) {
                                return f.outcome == vboard::SerialFrameRecord::Outcome::Repeat;
                            }),
              2);

    // A board gone from the line mid-burn is lost, not "refused".
    board = std::make_unique<vboard::SerialBoard>(config);
    ASSERT_TRUE(board->ok()) << board->error();
    const pid_t pid = startZelflash({"burn", "-p", board->path(), image});
    ASSERT_TRUE(eventually([&] { return board->report().hostFrames.size() > 40; }));
    board.reset();
    run = finishZelflash(pid);
    EXPECT_EQ(run.status, 6) << run.err;
    EXPECT_NE(run.err.find("was lost"), std::string::npos) << run.err;
}

// --json: every line of standard output is one JSON object; components are
// announced with the image's CRC and closed with the board's.
TEST_F(Zelflash, JsonLinesTellTheBurnComponentByComponent)
{
    startFarm("--board 1:1 restart_delay=100 link=1");
    zelimg::ImageDesc desc = zelimg::sampleImage(4096);
    desc.components.back().bytes = pattern(6 * 1024 * 1024, 3);
    const std::string image = writeImage(desc, "sample.img");

    CliRun run = zelflash("burn --json " + image);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<QJsonObject> events = jsonLines(run.out);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front()["event"].toString(), "start");
    EXPECT_EQ(events.front()["image"].toString().toStdString(), image);
    EXPECT_EQ(events.back()["event"].toString(), "result");
    EXPECT_EQ(events.back()["exit_code"].toInt(-1), 0);
    EXPECT_EQ(events.back()["failure"].toString(), "none");

    std::vector<std::string> order;
    double lastProgress = -1;
    int progress = 0;
    for (const QJsonObject &e : events) {
        const std::string kind = e["event"].toString().toStdString();
        const int index = e["index"].toInt(-1);
        if (kind == "component_begin" || kind == "component_end") {
            ASSERT_GE(index, 0);
            ASSERT_LT(size_t(index), desc.components.size());
            const zelimg::Component &c = desc.components[size_t(index)];
            EXPECT_EQ(e["name"].toString().toStdString(), c.name);
            EXPECT_EQ(e["crc"].toString().toStdString(), crcText(zelimg::crc32Of(c.bytes)));
            order.push_back(kind.substr(10) + " " + c.name);
        }
        if (kind == "component_end") {
            // The board restarts as the last loader stage closes: no CRC of its.
            if (desc.components[size_t(index)].name == "updater.uboot")
                EXPECT_TRUE(e["board_crc"].isNull());
            else
                EXPECT_EQ(e["board_crc"], e["crc"]) << e["name"].toString().toStdString();
        }
        if (kind == "progress") {
            const double t = e["time"].toDouble();
            EXPECT_GE(t - lastProgress, 0.099) << "progress more than ten times a second";
            lastProgress = t;
            progress++;
            EXPECT_LE(e["total_sent"].toDouble(), e["total_size"].toDouble());
        }
    }
    EXPECT_GE(progress, 3);
    std::vector<std::string> expected;
    for (const zelimg::Component &c : desc.components) {
        expected.push_back("begin " + c.name);
        expected.push_back("end " + c.name);
    }
    EXPECT_EQ(order, expected);

    run = zelflash("burn --json " + m_dir + "/missing.img");
    EXPECT_EQ(run.status, 5);
    const std::vector<QJsonObject> failed = jsonLines(run.out);
    ASSERT_FALSE(failed.empty());
    EXPECT_EQ(failed.back()["exit_code"].toInt(-1), 5);
    EXPECT_EQ(failed.back()["failure"].toString(), "bad_image");
}

// The image is looked at before any board: a FIFO, a folder or a missing
// file end with status 5 at once, whatever boards are plugged, and leave
// every board untouched. check reads each component against its CRC.
TEST_F(Zelflash, TheImageIsCheckedBeforeAnyBoardIsTouched)
{
    startFarm("--board 1:1 --board 1:2 upgrade=1");
    const std::string fifo = m_dir + "/fifo.img";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string missing = m_dir + "/missing.img";

    struct Case {
        std::string args;
        std::string error;
    };
    for (const Case &c :
         {Case{"burn " + fifo, "image \"" + fifo + "\" is not a regular file"},
          Case{"burn -p 1:1 " + fifo, "image \"" + fifo + "\" is not a regular file"},
          Case{"uboot " + m_dir, "image \"" + m_dir + "\" is a folder, not an image file"},
          Case{"burn " + missing, "image \"" + missing + "\" cannot be read (no such file)"}}) {
        const CliRun run = zelflash(c.args);
        EXPECT_EQ(run.status, 5) << c.args;
        EXPECT_EQ(run.err, "zelflash: " + c.error + "\n") << c.args;
    }
    EXPECT_NE(farm("received 1:1").find("fwcs=0 "), std::string::npos) << farm("received 1:1");

    const zelimg::ImageDesc desc = zelimg::sampleImage(4096);
    const std::string image = writeImage(desc, "sample.img");
    CliRun run = zelflash("check " + image);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(lastLine(run.out), "image \"" + image + "\": " +
                                     std::to_string(desc.components.size()) +
                                     " components, every CRC matches");

    // One byte of the target changed behind the table's back.
    std::string bytes = readFile(image);
    const std::string target(desc.components[2].bytes.begin(), desc.components[2].bytes.end());
    const size_t at = bytes.find(target);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 7] = char(bytes[at + 7] ^ 0x40);
    const std::string bad = m_dir + "/bad.img";
    std::ofstream(bad, std::ios::binary) << bytes;
    run = zelflash("check " + bad);
    EXPECT_EQ(run.status, 5);
    EXPECT_NE(run.out.find("BAD  " + desc.components[2].name + "  size "), std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("has component " + desc.components[2].name + " with CRC "),
              std::string::npos)
        << run.err;
}

// "The only board" counts every board in burn mode: one that another
// program holds is named with the reason instead of being passed over.
TEST_F(Zelflash, ABoardHeldByAnotherProgramStillCounts)
{
    startFarm("--board 1:1 --board 1:2 upgrade=1");
    const std::string image = writeImage(targetImage(4096), "target.img");
    int toPeer[2], fromPeer[2];
    ASSERT_EQ(pipe(toPeer), 0);
    ASSERT_EQ(pipe(fromPeer), 0);
    const pid_t peer = fork();
    if (peer == 0) {
        dup2(toPeer[0], 0);
        dup2(fromPeer[1], 1);
        close(toPeer[1]);
        close(fromPeer[0]);
        setenv(vboard::kFarmEnv, m_socket.c_str(), 1);
        execl(VBOARD_PEER, VBOARD_PEER, "claim", "1:1", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(toPeer[0]);
    close(fromPeer[1]);
    char reply[32] = {};
    ASSERT_GT(read(fromPeer[0], reply, sizeof(reply) - 1), 0);
    ASSERT_EQ(std::string(reply), "claim 0\n");

    CliRun run = zelflash("burn " + image);
    EXPECT_EQ(run.status, 4);
    EXPECT_EQ(run.err, "zelflash: several boards in burn mode (1:1 (held by another program), "
                       "1:2); choose one with --port\n");
    run = zelflash("list");
    EXPECT_TRUE(std::regex_search(run.out, std::regex("1:1 +busy +address \\d+\n"))) << run.out;

    farm("unplug 1:2");
    run = zelflash("burn " + image);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "zelflash: the only board in burn mode, at 1:1, cannot be used: held by "
                       "another program\n");

    close(toPeer[1]);
    waitpid(peer, nullptr, 0);
    close(fromPeer[0]);
}

// Ctrl-C on the terminal and SIGTERM end the burn at the next chunk, with
// the place it stopped, and leave the board free for the next run; a closed
// standard output does not stop a burn.
TEST_F(Zelflash, SignalsStopAtASafePointAndAClosedPipeDoesNot)
{
    startFarm("--board 1:1 upgrade=1 link=1");
    const std::string image = writeImage(targetImage(64 * 1024 * 1024), "big.img");

    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0)
        execZelflash({"burn", image});
    std::string screen;
    char buf[4096];
    ssize_t n;
    while (screen.find("  image.target.data") == std::string::npos &&
           (n = read(master, buf, sizeof(buf))) > 0)
        screen.append(buf, size_t(n));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(write(master, "\x03", 1), 1);
    while ((n = read(master, buf, sizeof(buf))) > 0)
        screen.append(buf, size_t(n));
    close(master);
    int raw = 0;
    waitpid(pid, &raw, 0);
    ASSERT_TRUE(WIFEXITED(raw)) << screen;
    EXPECT_EQ(WEXITSTATUS(raw), 130) << screen;
    EXPECT_TRUE(std::regex_search(screen, std::regex("zelflash: burn stopped by Ctrl-C in "
                                                     "image\\.target\\.data at byte [1-9]\\d* of "
                                                     "67108864; the board at 1:1 was released")))
        << screen;

    const pid_t bg = startZelflash({"burn", "-q", image});
    ASSERT_TRUE(eventually([&] { return farm("received 1:1").find("fwcs=2 ") != std::string::npos; }));
    kill(bg, SIGTERM);
    CliRun run = finishZelflash(bg);
    EXPECT_EQ(run.status, 143) << run.err;
    EXPECT_NE(run.err.find("burn stopped by SIGTERM in image.target.data"), std::string::npos)
        << run.err;

    // The next run finds the board free, and burns on with its output cut.
    const std::string small = writeImage(targetImage(2 * 1024 * 1024), "small.img");
    const std::string cmd = environment() + ZELFLASH + " burn " + small +
                            " | head -c 1 >/dev/null; exit ${PIPESTATUS[0]}";
    std::ofstream(m_dir + "/piped.sh") << cmd << "\n";
    const int piped = std::system(("bash " + m_dir + "/piped.sh").c_str());
    EXPECT_TRUE(WIFEXITED(piped) && WEXITSTATUS(piped) == 0) << piped;
    const std::string received = farm("received 1:1");
    EXPECT_TRUE(std::regex_search(received, std::regex("size=2097152 received=\\d+ crc=0x[0-9a-f]+ "
                                                       ".*complete")))
        << received;
}

// Every program a user installs says its version, one and the same.
TEST(Programs, EveryInstalledProgramTellsTheSameVersion)
{
    std::string version;
    for (const std::string program : {ZELFLASH, ZELBURNER, ZELIMG, ZELLINE, VELDMARK}) {
        const std::string name = program.substr(program.rfind('/') + 1);
        FILE *pipe = popen((program + " --version").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[128] = {};
        const bool got = std::fgets(line, sizeof(line), pipe) != nullptr;
        const int status = pclose(pipe);
        ASSERT_TRUE(got) << name;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << name;
        std::smatch m;
        const std::string text(line);
        ASSERT_TRUE(std::regex_match(text, m, std::regex(name + " (\\d+\\.\\d+\\.\\d+)\n")))
            << text;
        if (version.empty())
            version = m[1];
        EXPECT_EQ(m[1], version) << name;
    }
    FILE *pipe = popen((std::string(VELDMARK) + " --help").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[128] = {};
    ASSERT_NE(std::fgets(line, sizeof(line), pipe), nullptr);
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(std::string(line).rfind("Usage: ", 0), 0u) << line;
}

} // namespace
