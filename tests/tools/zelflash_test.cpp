// zelflash as a user runs it: the real program, with the libusb test library
// first in its library path, against boards of a farm.

#include "image_builder.h"
#include "vboard_host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <regex>
#include <sstream>
#include <sys/wait.h>
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

    // zelflash with args, its standard output and error on a pseudo-terminal.
    CliRun zelflashOnTerminal(const std::vector<std::string> &args)
    {
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            setenv(vboard::kFarmEnv, m_socket.c_str(), 1);
            setenv("LD_LIBRARY_PATH", VUSB_DIR, 1);
            std::vector<char *> argv{const_cast<char *>(ZELFLASH)};
            for (const std::string &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(ZELFLASH, argv.data());
            _exit(127);
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

    std::string m_dir;
    std::string m_socket;
    bool m_started = false;
};

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
    EXPECT_EQ(run.err, "zelflash burn: expected one IMAGE (see \"zelflash burn --help\")\n");
    run = zelflash("burn -p 1:x " + image);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zelflash: \"1:x\" is not a port text (bus:port[:port...], e.g. 1:2:4)\n");

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
    EXPECT_EQ(lastLine(run.err), "zelflash: invalid image \"" + garbage + "\"");

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

    // Quiet: no progress and no operator text of the library's log (the
    // procedure's own lines on standard output stay).
    run = zelflash("uboot -q -p 1:1 " + image);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.find("Send the"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("progress"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("uboot done"), std::string::npos) << run.out;
    EXPECT_NE(farm("state 1:1").find("mode=1 "), std::string::npos);
    EXPECT_NE(farm("received 1:1").find("fwcs=3 "), std::string::npos);

    run = zelflash("ramboot -p 1:2:3 -a 0x41000000 " + image + " updater.uboot");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string received = farm("received 1:2:3");
    EXPECT_NE(received.find("  shell \"ram_boot 0x41000000 emmc 0\"\n"), std::string::npos)
        << received;
    EXPECT_NE(received.find("  write 0x41000000 " +
                            std::to_string(desc.components[1].bytes.size()) + "\n"),
              std::string::npos)
        << received;

    for (const char *command : {"list", "burn", "uboot", "ramboot", "media"}) {
        run = zelflash(std::string(command) + " --help");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.rfind(std::string("usage: zelflash ") + command, 0), 0u) << run.out;
    }
    run = zelflash("ramboot -p 1:2:3 " + image + " updater.uboot");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zelflash ramboot: option -a ADDRESS is required (see \"zelflash ramboot "
                       "--help\")\n");
}

} // namespace
