// The serial transport against the virtual serial board on a pseudo-terminal:
// framing as the board sees it, the board's bad frames and repeats as the
// host handles them, the handshakes and the connection manager, and the
// packet transport's commands over a serial handle.

#include "libuart.h"
#include "uart_memory_port.h"
#include "upg_device.h"
#include "vboard_serial.h"
#include "zelupg_cmd.h"
#include "zelupg_log.h"
#include "zelupg_trans.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Outcome = vboard::SerialFrameRecord::Outcome;
using Clock = std::chrono::steady_clock;

// Library messages from the caller's and the manager's threads.
std::mutex g_logLock;
std::vector<std::string> g_log;

int hook(int, const char *raw)
{
    std::string line(raw);
    const size_t paren = line.find("()");
    if (paren != std::string::npos && line.size() > 40)
        line = line.substr(0, paren) + ": " + line.substr(40);
    std::lock_guard<std::mutex> g(g_logLock);
    g_log.push_back(line);
    return 0;
}

int logged(const std::string &text)
{
    std::lock_guard<std::mutex> g(g_logLock);
    int n = 0;
    for (const std::string &l : g_log)
        n += l == text;
    return n;
}

int loggedPrefix(const std::string &prefix)
{
    std::lock_guard<std::mutex> g(g_logLock);
    int n = 0;
    for (const std::string &l : g_log)
        n += l.compare(0, prefix.size(), prefix) == 0;
    return n;
}

std::mutex g_statesLock;
std::vector<int> g_states;

void onState(libuart_conn *, int state)
{
    std::lock_guard<std::mutex> g(g_statesLock);
    g_states.push_back(state);
}

// The states called back so far, once there are at least `count` (or after
// a second).
std::vector<int> states(size_t count)
{
    for (int i = 0; i < 100; i++) {
        {
            std::lock_guard<std::mutex> g(g_statesLock);
            if (g_states.size() >= count)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::lock_guard<std::mutex> g(g_statesLock);
    return g_states;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = uint8_t(seed + i * 7 + (i >> 8));
    return v;
}

struct FrameShape {
    bool isLong;
    int block;
    int length;
    Outcome outcome;
    bool operator==(const FrameShape &o) const
    {
        return isLong == o.isLong && block == o.block && length == o.length && outcome == o.outcome;
    }
};

std::ostream &operator<<(std::ostream &os, const FrameShape &f)
{
    return os << (f.isLong ? "long" : "short") << " blk " << f.block << " len " << f.length
              << " outcome " << int(f.outcome);
}

std::vector<FrameShape> shapes(const std::vector<vboard::SerialFrameRecord> &frames, size_t from)
{
    std::vector<FrameShape> out;
    for (size_t i = from; i < frames.size(); i++)
        out.push_back({frames[i].isLong, frames[i].block, frames[i].length, frames[i].outcome});
    return out;
}

class Serial : public ::testing::Test
{
protected:
    void SetUp() override
    {
        {
            std::lock_guard<std::mutex> g(g_logLock);
            g_log.clear();
        }
        {
            std::lock_guard<std::mutex> g(g_statesLock);
            g_states.clear();
        }
        zelupg_set_log_hook(hook);
        ASSERT_EQ(libzelupg_init(), 0);
    }
    void TearDown() override
    {
        if (HasFailure()) {
            std::lock_guard<std::mutex> g(g_logLock);
            for (const std::string &l : g_log)
                std::fprintf(stderr, "  log: %s\n", l.c_str());
            if (board) {
                const auto r = board->report();
                for (const auto &f : r.boardFrames)
                    std::fprintf(stderr, "  board frame blk %d len %d\n", f.block, f.length);
                for (int a : r.answers)
                    std::fprintf(stderr, "  answer %d\n", a);
            }
        }
        if (conn)
            libuart_close(conn);
        if (dev)
            upg_dev_close(dev);
        board.reset();
        libzelupg_exit();
        zelupg_set_log_hook(nullptr);
    }

    void startBoard(bool link = false, bool canAfterPhase = false)
    {
        vboard::SerialConfig c;
        c.link = link;
        c.canAfterPhase = canAfterPhase;
        c.board.keepData = true;
        c.board.lastLoaderStage = "";
        board = std::make_unique<vboard::SerialBoard>(c);
        ASSERT_TRUE(board->ok()) << board->error();
    }

    // A bare connection, waited on until the board has answered 'C'.
    void connect(libuart_state_cb cb = nullptr)
    {
        conn = libuart_open(board->path().c_str(), cb);
        ASSERT_NE(conn, nullptr);
        ASSERT_EQ(libuart_wait_connected(conn, 3000), 1);
    }

    // A serial upg_device through the library's open-and-wait call.
    void connectDevice()
    {
        dev = upg_uart_dev_connect(board->path().c_str(), 3000);
        ASSERT_NE(dev, nullptr);
        ASSERT_EQ(upg_uart_dev_is_connected(dev), UART_STATE_CONNECTED);
    }

    // The board's report once it has taken the host's answer to its last
    // frame: a frame is recorded only after it went out, so on a loaded
    // machine both counts may lag; they must also hold still a moment.
    vboard::SerialReport settledReport()
    {
        vboard::SerialReport r = board->report();
        for (int i = 0; i < 100; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const vboard::SerialReport next = board->report();
            const bool still = next.answers.size() == r.answers.size() &&
                               next.boardFrames.size() == r.boardFrames.size();
            r = next;
            if (still && r.answers.size() >= r.boardFrames.size())
                break;
        }
        return r;
    }

    std::unique_ptr<vboard::SerialBoard> board;
    libuart_conn *conn = nullptr;
    upg_device *dev = nullptr;
};

TEST(SerialCrc, XmodemCheckValueAndRunningUpdate)
{
    const uint8_t text[] = "123456789";
    EXPECT_EQ(uart_crc16_update(0, text, 9), 0x31C3);
    EXPECT_EQ(uart_crc16_update(uart_crc16_update(0, text, 4), text + 4, 5), 0x31C3);
    const std::vector<uint8_t> data = pattern(1024, 3);
    EXPECT_EQ(uart_crc16_update(0, data.data(), data.size()),
              vboard::serialCrc16(data.data(), data.size()));
}

TEST_F(Serial, APortThatCannotBeOpenedGivesNoDevice)
{
    EXPECT_EQ(upg_uart_dev_open("/dev/no-such-serial-port", nullptr), nullptr);
    EXPECT_EQ(logged("uart_port_open: Failed to open COM device."), 1);
    EXPECT_EQ(upg_uart_dev_is_connected(nullptr), 0);
}

TEST_F(Serial, SendCutsLongAndShortFramesAndWrapsBlockNumbers)
{
    startBoard();
    connect();
    const std::vector<uint8_t> data = pattern(260 * 1024, 1);

    EXPECT_EQ(libuart_send(conn, data.data(), 2100), 2100);
    EXPECT_EQ(shapes(board->report().hostFrames, 0),
              (std::vector<FrameShape>{{true, 1, 1024, Outcome::Taken},
                                       {true, 2, 1024, Outcome::Taken},
                                       {false, 3, 52, Outcome::Taken}}));

    EXPECT_EQ(libuart_send(conn, data.data(), 300), 300);
    EXPECT_EQ(shapes(board->report().hostFrames, 3),
              (std::vector<FrameShape>{{false, 4, 176, Outcome::Taken},
                                       {false, 5, 124, Outcome::Taken}}));

    // Blocks 6..255, then 1 again: never 0, never taken for a repeat.
    EXPECT_EQ(libuart_send(conn, data.data(), 252 * 1024), 252 * 1024);
    const auto frames = board->report().hostFrames;
    ASSERT_EQ(frames.size(), 257u);
    EXPECT_EQ(frames[254].block, 255);
    EXPECT_EQ(frames[255].block, 1);
    EXPECT_EQ(frames[256].block, 2);
    for (const auto &f : frames)
        ASSERT_EQ(f.outcome, Outcome::Taken);
    EXPECT_EQ(board->report().dc1s, 3);
}

TEST_F(Serial, SendRepeatsRefusedFramesAndGivesUpOnSilence)
{
    startBoard();
    connect();
    const std::vector<uint8_t> data = pattern(400, 9);

    // A frame the board answers with NAK goes again, as it was.
    board->addFault({vboard::SerialFaultKind::Nak, vboard::SerialPoint::HostFrame, 1, 1});
    EXPECT_EQ(libuart_send(conn, data.data(), 400), 400);
    EXPECT_EQ(shapes(board->report().hostFrames, 0),
              (std::vector<FrameShape>{{false, 1, 176, Outcome::Taken},
                                       {false, 2, 176, Outcome::Refused},
                                       {false, 2, 176, Outcome::Taken},
                                       {false, 3, 48, Outcome::Taken}}));

    // An ACK lost on the line: the same block goes again, the board answers
    // it without taking it twice, and the call goes on.
    board->addFault({vboard::SerialFaultKind::LostAck, vboard::SerialPoint::HostFrame, 0, 1});
    EXPECT_EQ(libuart_send(conn, data.data(), 200), 200);
    EXPECT_EQ(shapes(board->report().hostFrames, 4),
              (std::vector<FrameShape>{{false, 4, 176, Outcome::Taken},
                                       {false, 4, 176, Outcome::Repeat},
                                       {false, 5, 24, Outcome::Taken}}));

    // A board that takes no frame: the call stops with what was acknowledged.
    // It answers no 'C' either, so the manager cannot bring the connection
    // back before the state is read.
    board->addFault({vboard::SerialFaultKind::Silent, vboard::SerialPoint::HostFrame, 1, 0});
    board->addFault({vboard::SerialFaultKind::Silent, vboard::SerialPoint::Connect, 0, 0});
    EXPECT_EQ(libuart_send(conn, data.data(), 400), 176);
    EXPECT_EQ(logged("libuart_send: Waiting resp timeout, switch to detecting state."), 1);
    EXPECT_EQ(libuart_state(conn), UART_STATE_DETECTING);
    EXPECT_EQ(libuart_send(conn, data.data(), 10), -1);
    EXPECT_EQ(logged("libuart_send: Connection is not ready"), 1);
}

// A busy board may answer DC1 or DC2 late: it gets as long as the caller
// waits for the exchange, and no longer.
TEST_F(Serial, HandshakesWaitAsLongAsTheCallerAndNoLonger)
{
    startBoard();
    connect();
    uint8_t buf[16];
    const std::vector<uint8_t> data = pattern(16, 2);

    board->addFault({vboard::SerialFaultKind::Late, vboard::SerialPoint::Dc1, 0, 1, 1200});
    EXPECT_EQ(libuart_send(conn, data.data(), 16), 16);
    EXPECT_EQ(board->report().hostFrames.size(), 1u);

    // The board answers no 'C' while the state is looked at, so the manager
    // cannot bring the connection back in between.
    board->addFault({vboard::SerialFaultKind::Silent, vboard::SerialPoint::Dc1});
    board->addFault({vboard::SerialFaultKind::Silent, vboard::SerialPoint::Connect, 0, 0});
    auto start = Clock::now();
    EXPECT_EQ(libuart_send_within(conn, data.data(), 16, 1500), 0);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(logged("handshake: No answer to DC1, switch to detecting state."), 1);
    EXPECT_EQ(libuart_state(conn), UART_STATE_DETECTING);
    EXPECT_EQ(board->report().hostFrames.size(), 1u);

    board->clearFaults();
    ASSERT_EQ(libuart_wait_connected(conn, 3000), 1);
    board->addFault({vboard::SerialFaultKind::Silent, vboard::SerialPoint::Dc2});
    start = Clock::now();
    EXPECT_EQ(libuart_recv(conn, buf, 16, 1500), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    EXPECT_EQ(logged("handshake: No answer to DC2, switch to detecting state."), 1);

    // 'A' in place of ACK: nothing is sent, a new connection is asked for.
    board->clearFaults();
    ASSERT_EQ(libuart_wait_connected(conn, 3000), 1);
    board->addFault({vboard::SerialFaultKind::Attention, vboard::SerialPoint::Dc1});
    board->addFault({vboard::SerialFaultKind::Silent, vboard::SerialPoint::Connect, 0, 0});
    EXPECT_EQ(libuart_send(conn, data.data(), 16), 0);
    EXPECT_EQ(libuart_state(conn), UART_STATE_DETECTING);
    EXPECT_EQ(board->report().hostFrames.size(), 1u);
}

TEST_F(Serial, ManagerFollowsTheBoardAndCallsBack)
{
    startBoard();
    // The first 'C' is answered with 'A': connected after the host's ACK.
    board->addFault({vboard::SerialFaultKind::Attention, vboard::SerialPoint::Connect});
    connect(onState);
    EXPECT_EQ(logged("check_connection: Got A from Device, reply ACK"), 1);
    EXPECT_EQ(states(1), (std::vector<int>{UART_STATE_CONNECTED}));

    // Silence at the next check (5 s on) takes it back to Detecting.
    board->addFault({vboard::SerialFaultKind::Silent, vboard::SerialPoint::Connect, 0, 0});
    const auto silent = Clock::now();
    for (int i = 0; i < 80 && libuart_state(conn) == UART_STATE_CONNECTED; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(libuart_state(conn), UART_STATE_DETECTING);
    EXPECT_GE(Clock::now() - silent, std::chrono::milliseconds(4000));
    EXPECT_GE(logged("uart_conn_mgr_thread: Serial state: Detecting"), 1);

    // The board answers again: ACK this time.
    board->clearFaults();
    ASSERT_EQ(libuart_wait_connected(conn, 3000), 1);
    EXPECT_GE(logged("check_connection: Got ACK for C"), 1);
    EXPECT_EQ(states(3),
              (std::vector<int>{UART_STATE_CONNECTED, UART_STATE_DETECTING, UART_STATE_CONNECTED}));

    libuart_close(conn);
    conn = nullptr;
    EXPECT_EQ(logged("uart_conn_mgr_thread: Receive close event, uart_conn_mgr_thread() exit ..."),
              1);
    // No thread is left to answer: the board hears no 'C' after the close.
    const int connects = board->report().connects;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(board->report().connects, connects);
}

// A read of 2100 bytes in the loader's 2048-byte packets: the board sends,
// in order, the status wrappers of the header and argument packets (frames
// 1, 2), the response header and its status (3, 4), two long data frames
// (5, 6) and a status (7), a short data frame of 52 (8) and a status (9).
TEST_F(Serial, ReceiveTakesRepairedFramesOnceAndIntact)
{
    startBoard();
    connectDevice();
    const std::vector<uint8_t> data = pattern(2100, 5);
    ASSERT_EQ(zelupg_cmd_write(dev, 0x40000000, data.data(), uint32_t(data.size())), 2100);

    using K = vboard::SerialFaultKind;
    const auto at = vboard::SerialPoint::BoardFrame;
    const size_t before = settledReport().answers.size();
    board->addFault({K::LostAck, at, 4, 1});  // frame 5, sent again at once
    board->addFault({K::BadCrc, at, 5, 1});  // frame 6; its repeat is occasion 7
    board->addFault({K::BadComplement, at, 8, 1});  // frame 8 (occasion 9), repeat 10
    board->addFault({K::Noise, at, 10, 1, 5});  // before frame 9 (occasion 11)
    // Stray frame starts before frame 3, one of them with a complement that
    // holds: the real frame behind them is found and taken.
    board->addFault({K::FalseStart, at, 2, 1, 6});
    std::vector<uint8_t> back(2100);
    ASSERT_EQ(zelupg_cmd_read(dev, 0x40000000, back.data(), 2100), 2100);
    EXPECT_EQ(back, data);

    // A second ACK for the frame whose ACK the board missed, NAK for the bad
    // CRC, silence for the wrong complement.
    const auto answers = settledReport().answers;
    EXPECT_EQ(std::vector<int>(answers.begin() + long(before), answers.end()),
              (std::vector<int>{UART_ACK, UART_ACK, UART_ACK, UART_ACK, UART_ACK, UART_ACK,
                                UART_NAK, UART_ACK, UART_ACK, -1, UART_ACK, UART_ACK}));
    EXPECT_EQ(loggedPrefix("recv_long_frame_data: Repeated blk no "), 1);
    EXPECT_EQ(loggedPrefix("recv_long_frame_data: CRC16 error, 0x"), 1);
    EXPECT_GE(loggedPrefix("recv_short_frame_data: blk no error blk1 "), 1);
    EXPECT_EQ(logged("libuart_recv: libuart_recv, skipped 5 bytes that start no frame"), 1);
    EXPECT_GE(loggedPrefix("recv_long_frame_data: False frame start, "), 1);
}

TEST_F(Serial, ReceiveEndsOnCanAndOnAttention)
{
    startBoard(false, true);  // CAN after every phase: left unread, harmless
    connectDevice();
    const std::vector<uint8_t> data = pattern(2100, 7);
    ASSERT_EQ(zelupg_cmd_write(dev, 0x1000, data.data(), 2100), 2100);
    std::vector<uint8_t> back(2100);
    ASSERT_EQ(zelupg_cmd_read(dev, 0x1000, back.data(), 2100), 2100);
    EXPECT_EQ(back, data);

    // CAN in place of the second data frame (see the frame order above):
    // what arrived so far.
    board->addFault({vboard::SerialFaultKind::Can, vboard::SerialPoint::BoardFrame, 5, 1});
    EXPECT_EQ(zelupg_cmd_read(dev, 0x1000, back.data(), 2100), ZELUPG_EFAIL);
    EXPECT_EQ(logged("zelupg_trans_recv_pkt: Recv data return 1024"), 1);

    // 'A' in place of a frame: answered with ACK, a new connection
    // handshake, and the next command goes through.
    board->addFault({vboard::SerialFaultKind::Attention, vboard::SerialPoint::BoardFrame, 5, 1});
    EXPECT_EQ(zelupg_cmd_read(dev, 0x1000, back.data(), 2100), ZELUPG_EFAIL);
    EXPECT_EQ(logged("zelupg_trans_recv_pkt: Recv data return 1024"), 2);
    ASSERT_EQ(libuart_wait_connected(dev->uart, 3000), 1);
    std::fill(back.begin(), back.end(), 0);
    ASSERT_EQ(zelupg_cmd_read(dev, 0x1000, back.data(), 2100), 2100);
    EXPECT_EQ(back, data);
}

// A frame longer than what is still asked for is never stored past the
// caller's buffer: the surplus is dropped and logged.
TEST(SerialLine, FramePastTheAskedLengthStaysOutOfTheBuffer)
{
    zelupg_set_log_hook(hook);
    std::vector<uint8_t> line{UART_ACK};
    const std::vector<uint8_t> data = pattern(176, 1);
    uint8_t frame[UART_LONG_FRAME];
    const int n = uart_pack_frame(1, data.data(), 176, frame);
    line.insert(line.end(), frame, frame + n);
    MemoryLine memory;
    memory.data = line.data();
    memory.size = line.size();
    libuart_conn *conn = libuart_open_port(memory_line_ops(), &memory, nullptr, false);
    ASSERT_NE(conn, nullptr);

    std::vector<uint8_t> buf(13 + 8, 0xEE);
    EXPECT_EQ(libuart_recv(conn, buf.data(), 13, 1000), 13);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 13, data.begin()));
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 13, buf.end()), std::vector<uint8_t>(8, 0xEE));
    EXPECT_EQ(
        logged("recv_short_frame_data: Frame of 176 bytes runs past the asked length, 163 bytes "
               "dropped"),
        1);
    // DC2, then the frame's ACK.
    EXPECT_EQ(memory.written, (std::vector<uint8_t>{UART_DC2, UART_ACK}));
    libuart_close(conn);
    zelupg_set_log_hook(nullptr);
}

}  // namespace
