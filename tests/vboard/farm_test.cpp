// The board farm: one process serving boards and other devices to several
// processes, with its claim rule, hotplug events and control command.
#include "fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace rawhost;

namespace {

// A child process with a pipe to its stdin and one from its stdout.
struct Child {
    pid_t pid = -1;
    int in = -1, out = -1;
    std::string buffered;

    bool start(const std::vector<std::string> &args)
    {
        int toChild[2], fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&fa, fromChild[1], 1);
        posix_spawn_file_actions_addclose(&fa, toChild[1]);
        posix_spawn_file_actions_addclose(&fa, fromChild[0]);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(toChild[0]);
        close(fromChild[1]);
        in = toChild[1];
        out = fromChild[0];
        return rc == 0;
    }

    // Next line of output, "" after timeoutMs.
    std::string line(int timeoutMs)
    {
        for (;;) {
            const size_t nl = buffered.find('\n');
            if (nl != std::string::npos) {
                const std::string l = buffered.substr(0, nl);
                buffered.erase(0, nl + 1);
                return l;
            }
            struct pollfd p = {out, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0)
                return "";
            char b[256];
            const ssize_t n = read(out, b, sizeof b);
            if (n <= 0)
                return "";
            buffered.append(b, size_t(n));
        }
    }

    int finish()
    {
        if (in >= 0)
            close(in);
        in = -1;
        int status = 0;
        if (pid > 0)
            waitpid(pid, &status, 0);
        pid = -1;
        if (out >= 0)
            close(out);
        out = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    ~Child() { finish(); }
};

int run(const std::vector<std::string> &args, std::string *output = nullptr)
{
    Child c;
    if (!c.start(args))
        return -1;
    close(c.in);
    c.in = -1;
    std::string all, l;
    char b[4096];
    ssize_t n;
    while ((n = read(c.out, b, sizeof b)) > 0)
        all.append(b, size_t(n));
    if (output)
        *output = all;
    return c.finish();
}

class Farm : public ::testing::Test {
protected:
    void startFarm(const std::vector<std::string> &options)
    {
        socket = testing::TempDir() + "vbfarm-" + std::to_string(getpid()) + ".sock";
        std::vector<std::string> args = {VBOARD_FARM_EXE, "--socket", socket, "start"};
        args.insert(args.end(), options.begin(), options.end());
        std::string out;
        ASSERT_EQ(run(args, &out), 0) << out;
        started = true;
        setenv(vboard::kFarmEnv, socket.c_str(), 1);
        ASSERT_EQ(libusb_init(&host.ctx), 0);
    }
    void TearDown() override
    {
        if (host.h) {
            libusb_close(host.h);
            host.h = nullptr;
        }
        if (host.ctx)
            libusb_exit(host.ctx);
        std::string reply;
        if (started) {
            EXPECT_TRUE(vboard::farmCommand(socket, "stop", &reply)) << reply;
        }
        unsetenv(vboard::kFarmEnv);
    }
    std::string control(const std::string &line)
    {
        std::string reply;
        EXPECT_TRUE(vboard::farmCommand(socket, line, &reply)) << line << ": " << reply;
        return reply;
    }
    libusb_device_handle *openAt(const std::string &position, int *claimRc)
    {
        libusb_device **list = nullptr;
        const ssize_t n = libusb_get_device_list(host.ctx, &list);
        libusb_device_handle *h = nullptr;
        for (ssize_t i = 0; i < n && !h; i++) {
            uint8_t ports[7];
            const int k = libusb_get_port_numbers(list[i], ports, 7);
            std::string p = std::to_string(libusb_get_bus_number(list[i]));
            for (int j = 0; j < k; j++)
                p += ":" + std::to_string(ports[j]);
            if (p == position && libusb_open(list[i], &h) != 0)
                h = nullptr;
        }
        libusb_free_device_list(list, 1);
        if (h && claimRc)
            *claimRc = libusb_claim_interface(h, 0);
        return h;
    }

    std::string socket;
    bool started = false;
    Host host;
};

TEST_F(Farm, ServesBoardsToThisProcess)
{
    startFarm({"--boards", "2", "restart_delay=50"});
    int rc = -1;
    host.h = openAt("1:2", &rc);
    ASSERT_NE(host.h, nullptr);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(host.mode(), 0);
    const std::string state = control("state 1:2");
    EXPECT_NE(state.find("claimed_by=pid " + std::to_string(getpid())), std::string::npos) << state;
}

TEST_F(Farm, ClaimIsRefusedToASecondProcessUntilTheFirstEnds)
{
    startFarm({"--boards", "1"});
    Child peer;
    ASSERT_TRUE(peer.start({VBOARD_PEER_EXE, "claim", "1:1"}));
    ASSERT_EQ(peer.line(5000), "claim 0");
    int rc = 0;
    host.h = openAt("1:1", &rc);
    ASSERT_NE(host.h, nullptr);
    EXPECT_EQ(rc, LIBUSB_ERROR_BUSY);
    int n = 0;
    uint8_t b[31] = {};
    EXPECT_EQ(libusb_bulk_transfer(host.h, 0x01, b, 31, &n, 100), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(peer.finish(), 0);
    // The peer died holding the claim: the farm released it with the connection.
    bool claimed = false;
    for (int i = 0; i < 100 && !claimed; i++) {
        claimed = libusb_claim_interface(host.h, 0) == 0;
        if (!claimed)
            usleep(20000);
    }
    EXPECT_TRUE(claimed);
    EXPECT_EQ(host.mode(), 0);
}

TEST_F(Farm, HotplugEventsReachAListenerInAnotherProcess)
{
    startFarm({"--boards", "1", "restart_delay=50"});
    Child listener;
    ASSERT_TRUE(listener.start({VBOARD_PEER_EXE, "listen", "4"}));
    ASSERT_EQ(listener.line(5000), "ready");
    control("plug board 1:5");
    EXPECT_EQ(listener.line(5000), "+1:5");
    control("unplug 1:5");
    EXPECT_EQ(listener.line(5000), "-1:5");
    control("restart 1:1 mode=1");
    EXPECT_EQ(listener.line(5000), "-1:1");
    EXPECT_EQ(listener.line(5000), "+1:1") << "back after the restart delay";
    EXPECT_EQ(listener.finish(), 0);
}

TEST_F(Farm, SixteenBoardsAndTwentyOtherDevices)
{
    startFarm({"--boards", "16", "--others", "12", "--hubs", "4", "--keyboards", "4"});
    libusb_device **list = nullptr;
    ASSERT_EQ(libusb_get_device_list(host.ctx, &list), 36);
    int boards = 0;
    for (int i = 0; i < 36; i++) {
        libusb_device_descriptor d;
        libusb_get_device_descriptor(list[i], &d);
        boards += d.idVendor == 0x33C3 && d.idProduct == 0x6677;
    }
    libusb_free_device_list(list, 1);
    EXPECT_EQ(boards, 16);

    std::vector<libusb_device_handle *> handles;
    for (int i = 1; i <= 16; i++) {
        int rc = -1;
        libusb_device_handle *h = openAt("1:" + std::to_string(i), &rc);
        ASSERT_NE(h, nullptr) << i;
        EXPECT_EQ(rc, 0) << i;
        handles.push_back(h);
    }
    for (libusb_device_handle *h : handles) {
        Host one;
        one.h = h;
        EXPECT_EQ(one.mode(), 0);
        libusb_close(h);
    }
    const std::string state = control("state");
    EXPECT_EQ(std::count(state.begin(), state.end(), '\n'), 37) << state;
    EXPECT_NE(state.find("#17 hub 2:1 "), std::string::npos) << state;
    EXPECT_NE(state.find("#36 device 2:20 "), std::string::npos) << state;
}

TEST_F(Farm, BoardRestartsAndTellsWhatItReceived)
{
    startFarm({"--board", "1:3:1", "restart_delay=50", "keep_data=1"});
    int rc = -1;
    host.h = openAt("1:3:1", &rc);
    ASSERT_EQ(rc, 0);
    const Bytes data = vbtest::BoardTest::pattern(70000);
    uint8_t st = 0;
    uint32_t dlen = 0, bs = 0;
    ASSERT_TRUE(host.command(0x10, 512, {fwcEntry("updater.uboot", 70000, 0)}, &st, &dlen));
    ASSERT_TRUE(host.query32(0x11, &st, &bs));
    Bytes padded = data;
    padded.resize(70144, 0);
    ASSERT_TRUE(host.sendFwcData(70000, padded, 2048));
    EXPECT_FALSE(host.response(&st, &dlen));
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_PIPE);
    control("wait 1:3:1 present 3000");
    libusb_close(host.h);
    host.h = openAt("1:3:1", &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(host.mode(), 1);
    const std::string received = control("received 1:3:1");
    char crc[16];
    snprintf(crc, sizeof crc, "0x%08x", vbtest::BoardTest::crcOf(data));
    EXPECT_NE(received.find("fwc \"updater.uboot\""), std::string::npos) << received;
    EXPECT_NE(received.find(std::string("crc=") + crc), std::string::npos) << received;
    EXPECT_NE(received.find("restarts=1"), std::string::npos) << received;
    EXPECT_NE(received.find("restarted"), std::string::npos) << received;
}

TEST_F(Farm, FaultsAndBadLinesThroughTheCommand)
{
    startFarm({"--boards", "1"});
    std::string out;
    EXPECT_EQ(run({VBOARD_FARM_EXE, "--socket", socket, "fault", "1:1", "stall", "cmd=0x00"}, &out), 0);
    EXPECT_EQ(out, "ok\n");
    EXPECT_EQ(run({VBOARD_FARM_EXE, "--socket", socket, "fault", "1:1", "melt"}, &out), 1);
    EXPECT_EQ(run({VBOARD_FARM_EXE, "--socket", socket, "state"}, &out), 0);
    EXPECT_NE(out.find("faults=1"), std::string::npos) << out;
    int rc = -1;
    host.h = openAt("1:1", &rc);
    EXPECT_EQ(host.mode(), -1);
    EXPECT_EQ(host.lastError, LIBUSB_ERROR_PIPE);
    EXPECT_EQ(host.mode(), 0);
}

TEST_F(Farm, StopEndsTheFarmAndItsSocket)
{
    startFarm({"--boards", "1"});
    std::string reply;
    ASSERT_TRUE(vboard::farmCommand(socket, "stop", &reply));
    started = false;
    for (int i = 0; i < 100 && access(socket.c_str(), F_OK) == 0; i++)
        usleep(20000);
    EXPECT_NE(access(socket.c_str(), F_OK), 0);
    libusb_context *ctx = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(libusb_init(&ctx), LIBUSB_ERROR_OTHER);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no board farm answers"), std::string::npos);
}

TEST_F(Farm, EventDescriptorGoesQuietWhenTheFarmEnds)
{
    startFarm({"--boards", "1"});
    const libusb_pollfd **fds = libusb_get_pollfds(host.ctx);
    ASSERT_NE(fds, nullptr);
    struct pollfd p = {fds[0]->fd, POLLIN, 0};
    libusb_free_pollfds(fds);
    EXPECT_EQ(poll(&p, 1, 0), 0);
    std::string reply;
    ASSERT_TRUE(vboard::farmCommand(socket, "stop", &reply));
    started = false;
    // Departure events of the farm's devices may come before its end:
    // handle whatever the descriptor signals until the end has been seen.
    testing::internal::CaptureStderr();
    timeval zero = {0, 0};
    for (int i = 0; i < 50 && poll(&p, 1, 100) == 1; i++)
        EXPECT_EQ(libusb_handle_events_timeout(host.ctx, &zero), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("lost the board farm"), std::string::npos);
    EXPECT_EQ(poll(&p, 1, 0), 0) << "an event loop must not spin on it";
    libusb_device **list = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_LT(libusb_get_device_list(host.ctx, &list), 0);
    testing::internal::GetCapturedStderr();
}

TEST_F(Farm, SecondFarmOnTheSameSocketIsRefused)
{
    startFarm({"--boards", "1"});
    std::string out;
    EXPECT_EQ(run({VBOARD_FARM_EXE, "--socket", socket, "start"}, &out), 1);
}

} // namespace
