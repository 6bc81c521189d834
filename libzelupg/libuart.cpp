#include "libuart.h"
#include "uart_port.h"
#include "zelupg_log.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

constexpr int kRecheckMs = 5000;
constexpr int kConnectPasses = 10;
constexpr int kConnectPassPauseMs = 20;
constexpr int kAnswerReads = 6;
constexpr int kEmptyReadPauseMs = 10;
constexpr int kRepeatsPerCall = 10;
// Copies of one frame sent into silence before the board counts as gone.
constexpr int kSilentCopies = 3;
constexpr int kHeadPauseMs = 100;
constexpr int kFrameHeadMs = 500;
constexpr int kFrameBodyMs = 1000;
// How often a wait for a frame's bytes looks whether a real frame has
// overtaken a false start.
constexpr int kReadAheadSliceMs = 20;

const uint16_t *crc_table()
{
    static const struct Table {
        uint16_t v[256];
        Table()
        {
            for (int i = 0; i < 256; i++) {
                uint16_t c = uint16_t(i << 8);
                for (int b = 0; b < 8; b++)
                    c = uint16_t(c & 0x8000 ? (c << 1) ^ 0x1021 : c << 1);
                v[i] = c;
            }
        }
    } table;
    return table.v;
}

const char *state_name(int state)
{
    return state == UART_STATE_CONNECTED ? "Connected" : "Detecting";
}

}  // namespace

struct libuart_conn {
    const uart_port_ops *ops = nullptr;
    void *port = nullptr;
    std::thread manager;
    int state = UART_STATE_DETECTING;
    uint8_t blk_no = 1;
    uint64_t connected_at = 0;  // ms of the last switch to Connected
    std::mutex priv;  // guards state and connected_at
    std::condition_variable state_changed;
    std::mutex port_lock;  // one thread at a time uses the port
    // Bytes a receive read ahead while looking for a frame start; only the
    // thread holding port_lock touches them.
    std::vector<uint8_t> rx;
    std::mutex close_lock;
    std::condition_variable close_event;
    bool closing = false;
    libuart_state_cb cb = nullptr;
};

namespace {

void set_state(libuart_conn *c, int state)
{
    int old;
    {
        std::lock_guard<std::mutex> g(c->priv);
        old = c->state;
        c->state = state;
        if (state == UART_STATE_CONNECTED)
            c->connected_at = uart_now_ms();
    }
    if (old != state && c->cb)
        c->cb(c, state);
    c->state_changed.notify_all();
    if (state != UART_STATE_CONNECTED) {
        // The manager checks at once when the connection is no longer up.
        std::lock_guard<std::mutex> g(c->close_lock);
        c->close_event.notify_all();
    }
}

bool put_byte(libuart_conn *c, uint8_t b)
{
    return c->ops->write(c->port, &b, 1) == 1;
}

constexpr int kNoByte = -1;
constexpr int kPortError = -2;

// One byte under the port's time-outs; kNoByte when none came, kPortError
// when the port itself failed (a device that went away).
int get_byte(libuart_conn *c)
{
    uint8_t b;
    const int n = c->ops->read(c->port, &b, 1);
    return n == 1 ? b : (n < 0 ? kPortError : kNoByte);
}

// Reads len bytes once they are all waiting, within timeout_ms. Returns the
// count read, 0 when they did not all arrive in time.
int read_within(libuart_conn *c, uint8_t *buf, int len, int timeout_ms)
{
    if (c->ops->wait_input(c->port, len, timeout_ms) != 1)
        return 0;
    return c->ops->read(c->port, buf, len);
}

// The 'C' handshake: ACK or 'A' mean a board listens; silence means none does.
int check_connection(libuart_conn *c, int noted)
{
    int result = UART_STATE_DETECTING;
    std::lock_guard<std::mutex> port(c->port_lock);
    upg_dbg("Mgr thread got port access right, send C to device");
    // Whatever already waits is no answer to this request.
    c->ops->discard_input(c->port);
    put_byte(c, UART_CONNECT);
    for (int pass = 0; pass < kConnectPasses; pass++) {
        const int b = get_byte(c);
        if (b == UART_ACK) {
            upg_dbg("Got ACK for C");
            result = UART_STATE_CONNECTED;
            break;
        }
        if (b == UART_ATTENTION) {
            upg_info("Got A from Device, reply ACK");
            put_byte(c, UART_ACK);
            get_byte(c);
            result = UART_STATE_CONNECTED;
            break;
        }
        if (b >= 0) {
            upg_err("%s: Got %02X", __func__, b);
            result = noted;
            break;
        }
        uart_sleep_ms(kConnectPassPauseMs);
    }
    return result;
}

void uart_conn_mgr_thread(libuart_conn *c)
{
    std::unique_lock<std::mutex> g(c->close_lock);
    while (!c->closing) {
        int noted;
        uint64_t since;
        {
            std::lock_guard<std::mutex> p(c->priv);
            noted = c->state;
            since = c->connected_at;
        }
        const uint64_t now = uart_now_ms();
        if (noted == UART_STATE_CONNECTED && now - since < uint64_t(kRecheckMs)) {
            c->close_event.wait_for(g, std::chrono::milliseconds(since + kRecheckMs - now), [c] {
                return c->closing || libuart_state(c) != UART_STATE_CONNECTED;
            });
            continue;
        }
        g.unlock();
        const int state = check_connection(c, noted);
        upg_dbg("Serial state: %s", state_name(state));
        set_state(c, state);
        g.lock();
    }
    upg_dbg("Receive close event, %s() exit ...", __func__);
}

// The DC1 / DC2 handshake: the board answers ACK to go on or 'A' to ask for
// a new connection handshake. A busy board may take its time to answer: it
// gets as long as the caller waits for the whole exchange. Returns true on
// ACK.
bool handshake(libuart_conn *c, uint8_t request, const char *what, int timeout_ms)
{
    c->ops->discard_input(c->port);
    c->rx.clear();
    if (!put_byte(c, request)) {
        if (request == UART_DC2)
            upg_err_as("switch_to_recv_mode", "Send DC2_RECV failed.");
        else
            upg_err_as("libuart_send", "Send DC1 failed.");
        return false;
    }
    const uint64_t deadline = uart_now_ms() + uint64_t(timeout_ms > 0 ? timeout_ms : 0);
    while (uart_now_ms() < deadline) {
        const int b = get_byte(c);
        if (b == UART_ACK)
            return true;
        if (b == UART_ATTENTION || b == kPortError)
            return false;
        if (b == kNoByte)
            uart_sleep_ms(kEmptyReadPauseMs);
    }
    upg_err("No answer to %s, switch to detecting state.", what);
    return false;
}

// The board's answer to a frame: one byte within six reads, -1 for none.
int frame_answer(libuart_conn *c)
{
    for (int i = 0; i < kAnswerReads; i++) {
        const int b = get_byte(c);
        if (b >= 0)
            return b;
        uart_sleep_ms(kEmptyReadPauseMs);
    }
    return -1;
}

uint8_t next_blk(uint8_t blk)
{
    return blk == 255 ? 1 : uint8_t(blk + 1);
}

// Receive progress of one libuart_recv call.
struct Inbox {
    uint8_t *buf;
    int len;
    int got = 0;
    int last_blk = -1;  // block number of the last frame taken
};

// Takes the data of a frame whose CRC matched. A board repeating a frame
// whose ACK it missed sends the same block number again: that copy is
// answered but not stored twice. Data past the asked length is never stored.
void take_frame(libuart_conn *c, Inbox *in, uint8_t blk, const uint8_t *data, int n,
                const char *func)
{
    put_byte(c, UART_ACK);
    if (blk == in->last_blk) {
        zelupg_log(ZELUPG_LOG_INFO, func, __LINE__, "Repeated blk no %d dropped", blk);
        return;
    }
    in->last_blk = blk;
    const int room = in->len - in->got;
    if (n > room) {
        upg_err_as(func, "Frame of %d bytes runs past the asked length, %d bytes dropped", n,
                   n - room);
        n = room;
    }
    std::memcpy(in->buf + in->got, data, size_t(n));
    in->got += n;
}

bool crc_matches(const uint8_t *data, int n, const uint8_t *crc)
{
    return uart_crc16_update(0, data, size_t(n)) == uint16_t(crc[0] << 8 | crc[1]);
}

enum class Candidate { Good, BadHeader, BadCrc, Incomplete, Overtaken };

Candidate look_at(libuart_conn *c, size_t at, bool wait, size_t *size);

// The first offset after a frame start, below limit, where a good frame lies
// complete in the read-ahead, or 0. A stray start byte on the line (noise)
// makes a false frame of the real one behind it: the real one must not be
// lost with it.
size_t good_frame_behind(libuart_conn *c, size_t limit)
{
    for (size_t at = 1; at < limit && at < c->rx.size(); at++) {
        size_t other = 0;
        if ((c->rx[at] == UART_SOH || c->rx[at] == UART_STX) &&
            look_at(c, at, false, &other) == Candidate::Good)
            return at;
    }
    return 0;
}

// Moves the bytes that are already waiting on the port into the read-ahead.
void pull_waiting(libuart_conn *c)
{
    uint8_t b;
    while (c->ops->wait_input(c->port, 1, 0) == 1 && c->ops->read(c->port, &b, 1) == 1)
        c->rx.push_back(b);
}

// Makes sure the read-ahead holds count bytes, waiting up to timeout_ms for
// the missing ones (0: only what is already read ahead). While it waits, a
// good frame arriving complete behind the start at offset 0 ends the wait:
// that start was false.
Candidate read_ahead(libuart_conn *c, size_t count, int timeout_ms)
{
    const uint64_t deadline = uart_now_ms() + uint64_t(timeout_ms > 0 ? timeout_ms : 0);
    while (c->rx.size() < count) {
        const uint64_t now = uart_now_ms();
        if (now >= deadline)
            return Candidate::Incomplete;
        const int missing = int(count - c->rx.size());
        const int slice = int(deadline - now < uint64_t(kReadAheadSliceMs) ? deadline - now
                                                                            : kReadAheadSliceMs);
        uint8_t buf[UART_LONG_FRAME];
        if (read_within(c, buf, missing, slice) == missing) {
            c->rx.insert(c->rx.end(), buf, buf + missing);
            break;
        }
        const size_t had = c->rx.size();
        pull_waiting(c);
        if (c->rx.size() < count && good_frame_behind(c, c->rx.size()))
            return Candidate::Overtaken;
        // A port that neither waited nor gave anything (it failed, or holds
        // no more) will not complete the frame.
        if (c->rx.size() == had && uart_now_ms() - now < uint64_t(slice) / 2)
            return Candidate::Incomplete;
    }
    return Candidate::Good;
}

// Looks at a frame start at offset `at` of the read-ahead: block number,
// complement and (short frames) the length within 500 ms, then data and CRC
// within 1000 ms (with wait off, only bytes already read ahead count).
// *size is the frame's whole length once its header is known.
Candidate look_at(libuart_conn *c, size_t at, bool wait, size_t *size)
{
    const bool is_long = c->rx[at] == UART_STX;
    const size_t head = is_long ? 3 : 4;
    Candidate got = read_ahead(c, at + head, wait ? kFrameHeadMs : 0);
    if (got != Candidate::Good)
        return got;
    const uint8_t *h = c->rx.data() + at;
    if (uint8_t(h[1] + h[2]) != 0xff)
        return Candidate::BadHeader;
    const size_t n = is_long ? size_t(UART_LONG_DATA) : size_t(h[3]);
    *size = head + n + 2;
    got = read_ahead(c, at + *size, wait ? kFrameBodyMs : 0);
    if (got != Candidate::Good)
        return got;
    const uint8_t *data = c->rx.data() + at + head;
    return crc_matches(data, int(n), data + n) ? Candidate::Good : Candidate::BadCrc;
}

// Handles the frame whose start byte leads the read-ahead. A good frame is
// taken and acknowledged; a bad CRC is answered with NAK unless a good frame
// lies behind the false start; a wrong complement or a frame that does not
// arrive whole gets no answer. Anything but a good frame drops only the
// start byte, so that the next frame start is found wherever it lies and
// its CRC decides. Returns true when a frame was taken.
bool recv_frame(libuart_conn *c, Inbox *in)
{
    const bool is_long = c->rx[0] == UART_STX;
    const char *func = is_long ? "recv_long_frame_data" : "recv_short_frame_data";
    size_t size = 0;
    switch (look_at(c, 0, true, &size)) {
    case Candidate::Good: {
        const size_t head = is_long ? 3 : 4;
        take_frame(c, in, c->rx[1], c->rx.data() + head, int(size - head - 2), func);
        c->rx.erase(c->rx.begin(), c->rx.begin() + long(size));
        return true;
    }
    case Candidate::BadHeader:
        upg_dbg_as(func, "blk no error blk1 %d blk2 %d", c->rx[1], c->rx[2]);
        break;
    case Candidate::Incomplete:
        upg_dbg_as(func, "Read data error, frame incomplete");
        break;
    case Candidate::Overtaken:
    case Candidate::BadCrc: {
        const size_t behind = good_frame_behind(c, c->rx.size());
        if (behind) {
            upg_dbg_as(func, "False frame start, %u bytes skipped", unsigned(behind));
            c->rx.erase(c->rx.begin(), c->rx.begin() + long(behind));
            return false;
        }
        if (size == 0 || size > c->rx.size())
            break; // overtaken, and the good frame gone again: not a whole frame
        const size_t n = size - (is_long ? 5 : 6);
        const uint8_t *crc = c->rx.data() + size - 2;
        upg_err_as(func, "CRC16 error, 0x%x != 0x%x",
                   uart_crc16_update(0, c->rx.data() + size - 2 - n, n),
                   unsigned(crc[0] << 8 | crc[1]));
        put_byte(c, UART_NAK);
        c->rx.erase(c->rx.begin(), c->rx.begin() + long(size));
        return false;
    }
    }
    c->rx.erase(c->rx.begin());
    return false;
}

}  // namespace

uint64_t uart_now_ms(void)
{
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void uart_sleep_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint16_t uart_crc16_update(uint16_t crc, const uint8_t *data, size_t len)
{
    const uint16_t *table = crc_table();
    for (size_t i = 0; i < len; i++)
        crc = uint16_t(crc << 8 ^ table[(crc >> 8 ^ data[i]) & 0xff]);
    return crc;
}

int uart_pack_frame(uint8_t blk, const uint8_t *data, int len, uint8_t *frame)
{
    int at;
    if (len == UART_LONG_DATA) {
        frame[0] = UART_STX;
        at = 3;
    } else if (len >= 1 && len <= UART_SHORT_MAX) {
        frame[0] = UART_SOH;
        frame[3] = uint8_t(len);
        at = 4;
    } else {
        return 0;
    }
    frame[1] = blk;
    frame[2] = uint8_t(255 - blk);
    std::memcpy(frame + at, data, size_t(len));
    const uint16_t crc = uart_crc16_update(0, data, size_t(len));
    frame[at + len] = uint8_t(crc >> 8);
    frame[at + len + 1] = uint8_t(crc);
    return at + len + 2;
}

libuart_conn *libuart_open_port(const uart_port_ops *ops, void *port, libuart_state_cb cb,
                                bool manage)
{
    auto *c = new (std::nothrow) libuart_conn;
    if (!c) {
        upg_err_as("libuart_open", "Failed to malloc.");
        ops->close(port);
        return nullptr;
    }
    c->ops = ops;
    c->port = port;
    c->cb = cb;
    if (!manage) {
        c->state = UART_STATE_CONNECTED;
        c->connected_at = uart_now_ms();
        return c;
    }
    try {
        c->manager = std::thread(uart_conn_mgr_thread, c);
    } catch (const std::system_error &) {
        upg_err_as("create_conn_mgr", "Failed to create thread.");
        libuart_close(c);
        return nullptr;
    }
    return c;
}

libuart_conn *libuart_open(const char *port_name, libuart_state_cb cb)
{
    void *port = uart_port_open(port_name);
    if (!port)
        return nullptr;
    return libuart_open_port(uart_port_platform_ops(), port, cb, true);
}

void libuart_close(libuart_conn *c)
{
    if (!c)
        return;
    upg_dbg("%s", __func__);
    if (c->manager.joinable()) {
        {
            std::lock_guard<std::mutex> g(c->close_lock);
            c->closing = true;
        }
        c->close_event.notify_all();
        c->manager.join();
    }
    c->ops->close(c->port);
    delete c;
}

int libuart_state(libuart_conn *c)
{
    if (!c)
        return UART_STATE_DETECTING;
    std::lock_guard<std::mutex> g(c->priv);
    return c->state;
}

int libuart_wait_connected(libuart_conn *c, int timeout_ms)
{
    if (!c)
        return 0;
    std::unique_lock<std::mutex> g(c->priv);
    return c->state_changed.wait_for(g, std::chrono::milliseconds(timeout_ms),
                                     [c] { return c->state == UART_STATE_CONNECTED; })
               ? 1
               : 0;
}

int libuart_send(libuart_conn *c, const void *data, int len)
{
    return libuart_send_within(c, data, len, LIBUART_HANDSHAKE_MS);
}

int libuart_send_within(libuart_conn *c, const void *data, int len, int timeout_ms)
{
    if (!c) {
        upg_err_as("libuart_send", "Connection is NULL");
        return -1;
    }
    if (libuart_state(c) != UART_STATE_CONNECTED) {
        upg_err_as("libuart_send", "Connection is not ready");
        return -1;
    }
    if (len < 0 || (len > 0 && !data))
        return -1;
    const char fn[] = "libuart_send";
    const auto *bytes = static_cast<const uint8_t *>(data);
    int sent = 0;
    int state = UART_STATE_CONNECTED;
    {
        std::lock_guard<std::mutex> port(c->port_lock);
        upg_dbg_as(fn, "Data thread got port access right");
        if (!handshake(c, UART_DC1, "DC1", timeout_ms)) {
            state = UART_STATE_DETECTING;
        } else {
            uint8_t frame[UART_LONG_FRAME];
            int repeats = 0;
            int silent = 0;
            while (sent < len) {
                const int left = len - sent;
                const int n = left >= UART_LONG_DATA
                                  ? UART_LONG_DATA
                                  : (left < UART_SHORT_MAX ? left : UART_SHORT_MAX);
                const int size = uart_pack_frame(c->blk_no, bytes + sent, n, frame);
                upg_dbg_as(fn, "blk no %d", c->blk_no);
                // A byte already waiting (noise, an answer to an earlier
                // copy) would be taken for this frame's answer.
                c->ops->discard_input(c->port);
                c->ops->write(c->port, frame, size);
                const int answer = frame_answer(c);
                if (answer == UART_ACK) {
                    upg_dbg_as(fn, "Got ACK");
                    c->blk_no = next_blk(c->blk_no);
                    sent += n;
                    silent = 0;
                    continue;
                }
                // A lost ACK looks like silence: the same block goes again,
                // and a board that took it already answers without taking it
                // twice. Silence on every copy is a board gone.
                if (answer < 0 && ++silent == kSilentCopies) {
                    upg_err_as(fn, "Waiting resp timeout, switch to detecting state.");
                    state = UART_STATE_DETECTING;
                    break;
                }
                if (++repeats > kRepeatsPerCall) {
                    upg_err_as(fn, "Frame blk no %d not taken after %d repeats", c->blk_no,
                               kRepeatsPerCall);
                    break;
                }
            }
        }
        upg_dbg_as(fn, "Data thread release port access right");
    }
    set_state(c, state);
    return sent;
}

void libuart_expect_reconnect(libuart_conn *c)
{
    if (c)
        set_state(c, UART_STATE_DETECTING);
}

int libuart_recv(libuart_conn *c, void *buf, int len, int timeout_ms)
{
    if (!c || libuart_state(c) != UART_STATE_CONNECTED || len < 0 || (len > 0 && !buf))
        return -1;
    Inbox in;
    in.buf = static_cast<uint8_t *>(buf);
    in.len = len;
    int state = UART_STATE_CONNECTED;
    {
        std::lock_guard<std::mutex> port(c->port_lock);
        upg_dbg("Data thread got port access right");
        if (!handshake(c, UART_DC2, "DC2", timeout_ms)) {
            state = UART_STATE_DETECTING;
        } else {
            const uint64_t deadline = uart_now_ms() + uint64_t(timeout_ms > 0 ? timeout_ms : 0);
            bool ended = false;
            int skipped = 0;
            // After a false or broken frame the bytes that follow may be the
            // rest of its body: until a frame is taken or the line goes
            // quiet, only frame starts count, not CAN or 'A'.
            bool hunting = false;
            while (!ended && in.got < len) {
                if (uart_now_ms() >= deadline) {
                    upg_err("Read data time out.");
                    break;
                }
                if (c->rx.empty()) {
                    const int b = get_byte(c);
                    if (b == kNoByte) {
                        hunting = false;
                        upg_dbg("Recv.. read head failed.");
                        uart_sleep_ms(kHeadPauseMs);
                        continue;
                    }
                    if (b == kPortError) {
                        upg_err("Port read failed.");
                        break;
                    }
                    c->rx.push_back(uint8_t(b));
                }
                const uint8_t head = c->rx[0];
                const bool start = head == UART_SOH || head == UART_STX;
                if (!start && (hunting || (head != UART_CAN && head != UART_ATTENTION))) {
                    skipped++;
                    c->rx.erase(c->rx.begin());
                    continue;
                }
                if (skipped) {
                    upg_info("%s, skipped %d bytes that start no frame", __func__, skipped);
                    skipped = 0;
                }
                if (start) {
                    hunting = !recv_frame(c, &in);
                    if (!hunting)
                        upg_dbg(head == UART_STX ? "read long frame done." : "read short frame done.");
                    continue;
                }
                c->rx.erase(c->rx.begin());
                if (head == UART_ATTENTION) {
                    put_byte(c, UART_ACK);
                    state = UART_STATE_DETECTING;
                }
                ended = true;
            }
            if (skipped)
                upg_info("%s, skipped %d bytes that start no frame", __func__, skipped);
        }
        upg_dbg("Data thread release port access right");
    }
    set_state(c, state);
    return in.got;
}
