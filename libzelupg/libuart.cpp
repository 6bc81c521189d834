#include "libuart.h"
#include "uart_port.h"
#include "zelupg_log.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

namespace {

constexpr int kRecheckMs = 5000;
constexpr int kConnectPasses = 10;
constexpr int kConnectPassPauseMs = 20;
constexpr int kAnswerReads = 6;
constexpr int kEmptyReadPauseMs = 10;
constexpr int kRepeatsPerCall = 10;
constexpr int kHeadPauseMs = 100;
constexpr int kFrameHeadMs = 500;
constexpr int kFrameBodyMs = 1000;
// A board answers a DC1 or DC2 at once; a board that has not within this
// time is taken as gone, so that no caller waits for ever.
constexpr int kHandshakeMs = 1000;

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
            upg_info("Got ACK for C");
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
        upg_info("Serial state: %s", state_name(state));
        set_state(c, state);
        g.lock();
    }
    upg_info("Receive close event, %s() exit ...", __func__);
}

// The DC1 / DC2 handshake: the board answers ACK to go on or 'A' to ask for
// a new connection handshake. Returns true on ACK.
bool handshake(libuart_conn *c, uint8_t request, const char *what)
{
    c->ops->discard_input(c->port);
    if (!put_byte(c, request)) {
        if (request == UART_DC2)
            upg_err_as("switch_to_recv_mode", "Send DC2_RECV failed.");
        else
            upg_err_as("libuart_send", "Send DC1 failed.");
        return false;
    }
    const uint64_t deadline = uart_now_ms() + kHandshakeMs;
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

// Drops the rest of a frame whose header was wrong, so that its data bytes
// are not taken for frame starts.
void skip_body(libuart_conn *c, int len)
{
    uint8_t scratch[UART_LONG_DATA + 2];
    if (c->ops->wait_input(c->port, len, kFrameBodyMs) == 1)
        c->ops->read(c->port, scratch, len);
    else
        c->ops->discard_input(c->port);
}

bool crc_matches(const uint8_t *data, int n, const uint8_t *crc, const char *func)
{
    const uint16_t computed = uart_crc16_update(0, data, size_t(n));
    const uint16_t received = uint16_t(crc[0] << 8 | crc[1]);
    if (computed == received)
        return true;
    upg_err_as(func, "CRC16 error, 0x%x != 0x%x", computed, received);
    return false;
}

// One frame after its start byte: block number, complement and (short frames)
// the length within 500 ms, then the data and CRC within 1000 ms. A good
// frame is taken and acknowledged, a bad CRC answered with NAK, a wrong
// complement dropped without an answer.
bool recv_frame_data(libuart_conn *c, Inbox *in, bool is_long)
{
    const char *func = is_long ? "recv_long_frame_data" : "recv_short_frame_data";
    const int head_len = is_long ? 2 : 3;
    uint8_t head[3];
    if (read_within(c, head, head_len, kFrameHeadMs) != head_len)
        return false;
    // The length byte is taken as it comes (0..255); the body buffer holds
    // the largest it can announce.
    const int n = is_long ? int(UART_LONG_DATA) : int(head[2]);
    if (uint8_t(head[0] + head[1]) != 0xff) {
        upg_err_as(func, "blk no error blk1 %d blk2 %d", head[0], head[1]);
        skip_body(c, n + 2);
        return false;
    }
    uint8_t body[UART_LONG_DATA + 2];
    const int got = read_within(c, body, n + 2, kFrameBodyMs);
    if (got != n + 2) {
        upg_err_as(func, "Read data error, len %d != %d", got, n + 2);
        return false;
    }
    if (!crc_matches(body, n, body + n, func)) {
        put_byte(c, UART_NAK);
        return false;
    }
    take_frame(c, in, head[0], body, n, func);
    return true;
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
    upg_info("%s", __func__);
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
    if (!c) {
        upg_err("Connection is NULL");
        return -1;
    }
    if (libuart_state(c) != UART_STATE_CONNECTED) {
        upg_err("Connection is not ready");
        return -1;
    }
    if (len < 0 || (len > 0 && !data))
        return -1;
    const auto *bytes = static_cast<const uint8_t *>(data);
    int sent = 0;
    int state = UART_STATE_CONNECTED;
    {
        std::lock_guard<std::mutex> port(c->port_lock);
        upg_dbg("Data thread got port access right");
        if (!handshake(c, UART_DC1, "DC1")) {
            state = UART_STATE_DETECTING;
        } else {
            uint8_t frame[UART_LONG_FRAME];
            int repeats = 0;
            while (sent < len) {
                const int left = len - sent;
                const int n = left >= UART_LONG_DATA
                                  ? UART_LONG_DATA
                                  : (left < UART_SHORT_MAX ? left : UART_SHORT_MAX);
                const int size = uart_pack_frame(c->blk_no, bytes + sent, n, frame);
                upg_dbg("blk no %d", c->blk_no);
                // A byte already waiting (noise, an answer to an earlier
                // copy) would be taken for this frame's answer.
                c->ops->discard_input(c->port);
                c->ops->write(c->port, frame, size);
                const int answer = frame_answer(c);
                if (answer < 0) {
                    upg_err("Waiting resp timeout, switch to detecting state.");
                    state = UART_STATE_DETECTING;
                    break;
                }
                if (answer == UART_ACK) {
                    upg_dbg("Got ACK");
                    c->blk_no = next_blk(c->blk_no);
                    sent += n;
                    continue;
                }
                if (++repeats > kRepeatsPerCall) {
                    upg_err("Frame blk no %d not taken after %d repeats", c->blk_no,
                            kRepeatsPerCall);
                    break;
                }
            }
        }
        upg_dbg("Data thread release port access right");
    }
    set_state(c, state);
    return sent;
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
        if (!handshake(c, UART_DC2, "DC2")) {
            state = UART_STATE_DETECTING;
        } else {
            const uint64_t deadline = uart_now_ms() + uint64_t(timeout_ms > 0 ? timeout_ms : 0);
            bool ended = false;
            while (!ended && in.got < len) {
                if (uart_now_ms() >= deadline) {
                    upg_err("Read data time out.");
                    break;
                }
                const int head = get_byte(c);
                switch (head) {
                case kNoByte:
                    upg_dbg("Recv.. read head failed.");
                    uart_sleep_ms(kHeadPauseMs);
                    break;
                case kPortError:
                    upg_err("Port read failed.");
                    ended = true;
                    break;
                case UART_SOH:
                    upg_dbg("Short frame incoming...");
                    if (recv_frame_data(c, &in, false))
                        upg_dbg("read short frame done.");
                    else
                        upg_err("read short frame error.");
                    break;
                case UART_STX:
                    upg_dbg("Long frame incoming...");
                    if (recv_frame_data(c, &in, true))
                        upg_dbg("read long frame done.");
                    else
                        upg_err("read long frame error.");
                    break;
                case UART_CAN:
                    ended = true;
                    break;
                case UART_ATTENTION:
                    put_byte(c, UART_ACK);
                    state = UART_STATE_DETECTING;
                    ended = true;
                    break;
                default:
                    upg_err("%s, got unknown 0x%02x", __func__, head);
                    break;
                }
            }
        }
        upg_dbg("Data thread release port access right");
    }
    set_state(c, state);
    return in.got;
}
