#include "vboard_serial.h"

#include "board.h"

#include <libusb.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace vboard {

namespace {

using detail::Clock;

constexpr uint8_t kSoh = 0x01, kStx = 0x02, kAck = 0x06, kNak = 0x15, kDc1 = 0x11, kDc2 = 0x12,
                  kCan = 0x18, kAttention = 'A', kConnect = 'C';
constexpr int kShortMax = 176;
constexpr int kLong = 1024;
constexpr int kFrameHeadMs = 500;
constexpr int kFrameBodyMs = 1000;
constexpr int kRepeats = 10;
constexpr int kPaceBytes = 128; // bytes written at once when the link is modelled (11 ms)
constexpr int kIdlePollMs = 20;

bool appliesAt(SerialFaultKind k, SerialPoint p)
{
    switch (p) {
    case SerialPoint::Connect:
    case SerialPoint::Dc1:
    case SerialPoint::Dc2:
        return k == SerialFaultKind::Silent || k == SerialFaultKind::Attention ||
               k == SerialFaultKind::Noise || k == SerialFaultKind::Late;
    case SerialPoint::HostFrame:
        return k == SerialFaultKind::Silent || k == SerialFaultKind::Attention ||
               k == SerialFaultKind::Nak || k == SerialFaultKind::LostAck;
    case SerialPoint::BoardFrame:
        return k != SerialFaultKind::Silent && k != SerialFaultKind::Nak &&
               k != SerialFaultKind::Late;
    case SerialPoint::Any:
        break;
    }
    return false;
}

} // namespace

uint16_t serialCrc16(const uint8_t *data, size_t len)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < len; i++) {
        crc ^= uint16_t(data[i]) << 8;
        for (int b = 0; b < 8; b++)
            crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}

struct SerialBoard::Impl {
    explicit Impl(const SerialConfig &c) : cfg(c), board(0, boardConfig(c)) {}

    static BoardConfig boardConfig(const SerialConfig &c)
    {
        BoardConfig b = c.board;
        b.link.enabled = false; // the serial line is the bottleneck, timed here
        return b;
    }

    SerialConfig cfg;
    detail::Board board;
    int master = -1;
    int slave = -1; // kept open so the line survives the host closing its port
    std::string path;
    std::string err;
    std::thread thread;
    std::atomic<bool> stop{false};

    std::mutex m; // guards rep, faults
    SerialReport rep;
    struct Armed {
        SerialFault f;
        int skip;
        int left;
    };
    std::vector<Armed> faults;

    // Line state (board thread only).
    std::vector<uint8_t> rx;
    size_t rxPos = 0;
    Clock::time_point rxFree{}, txFree{};
    Clock::duration byteTime{};

    // The host's byte stream cut into transfers.
    std::vector<uint8_t> out;
    bool expectData = false;
    uint32_t dataLen = 0;
    std::deque<uint32_t> pendingIn; // lengths of the board-to-host phases owed
    int lastHostBlock = -1;
    uint8_t nextBlock = 1;

    bool down = false;
    bool returns = true;
    Clock::time_point upAt{};
    int upMode = 1;

    bool open();
    void run();
    void dispatch(uint8_t b);
    bool fire(SerialPoint at, SerialFaultKind *kind, int *value);
    int readByte(int timeoutMs);
    bool readExact(uint8_t *p, int n, int timeoutMs);
    bool fillOnce(int timeoutMs);
    void send(const uint8_t *p, int n);
    void sendByte(uint8_t b) { send(&b, 1); }
    void noise(int n);
    void falseStarts(int n);
    void answerRequest(SerialPoint at, bool *proceed);
    void receiveFrame(uint8_t head);
    void feed();
    void sendPhase();
    bool sendFrames(const uint8_t *data, int size);
    int readAnswer();
    void resetStream();
    void goDown(const detail::TransferResult &r);
    void record(const SerialFrameRecord &f, bool host)
    {
        std::lock_guard<std::mutex> g(m);
        (host ? rep.hostFrames : rep.boardFrames).push_back(f);
    }
};

bool SerialBoard::Impl::open()
{
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        err = std::string("no pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    char name[128];
    if (ptsname_r(master, name, sizeof(name)) != 0) {
        err = std::string("ptsname: ") + std::strerror(errno);
        return false;
    }
    path = name;
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        err = path + ": " + std::strerror(errno);
        return false;
    }
    // Raw from the start: no echo or line editing before the host sets the port up.
    termios tio;
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    byteTime = std::chrono::nanoseconds(10ll * 1000000000ll / cfg.baud);
    return true;
}

// Each fault counts its own matching occasions: it lets `skip` of them pass
// and then fires on the next one where no earlier fault fires.
bool SerialBoard::Impl::fire(SerialPoint at, SerialFaultKind *kind, int *value)
{
    std::lock_guard<std::mutex> g(m);
    long firing = -1;
    for (size_t i = 0; i < faults.size(); i++) {
        Armed &a = faults[i];
        if ((a.f.at != SerialPoint::Any && a.f.at != at) || !appliesAt(a.f.kind, at))
            continue;
        if (a.skip > 0)
            a.skip--;
        else if (firing < 0)
            firing = long(i);
    }
    if (firing < 0)
        return false;
    Armed &a = faults[size_t(firing)];
    *kind = a.f.kind;
    *value = a.f.value;
    if (a.left > 0 && --a.left == 0)
        faults.erase(faults.begin() + firing);
    return true;
}

bool SerialBoard::Impl::fillOnce(int timeoutMs)
{
    pollfd pfd{master, POLLIN, 0};
    if (poll(&pfd, 1, timeoutMs) <= 0)
        return false;
    uint8_t buf[4096];
    const ssize_t n = ::read(master, buf, sizeof(buf));
    if (n <= 0)
        return false;
    if (rxPos == rx.size()) {
        rx.clear();
        rxPos = 0;
    }
    rx.insert(rx.end(), buf, buf + n);
    {
        std::lock_guard<std::mutex> g(m);
        rep.hostBytes += uint64_t(n);
    }
    if (cfg.link) {
        // The bytes are on the line from now; they have all arrived once
        // their bit times have passed.
        rxFree = std::max(Clock::now(), rxFree) + byteTime * n;
    }
    return true;
}

int SerialBoard::Impl::readByte(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (rxPos == rx.size()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0 || stop)
            return -1;
        fillOnce(int(std::min<long long>(left, kIdlePollMs)));
    }
    return rx[rxPos++];
}

bool SerialBoard::Impl::readExact(uint8_t *p, int n, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (rx.size() - rxPos < size_t(n)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0 || stop)
            return false;
        fillOnce(int(std::min<long long>(left, kIdlePollMs)));
    }
    std::memcpy(p, rx.data() + rxPos, size_t(n));
    rxPos += size_t(n);
    return true;
}

void SerialBoard::Impl::send(const uint8_t *p, int n)
{
    // The bytes go out at the line's pace from when both the line is free
    // and what the host sent has arrived; a late wake-up is caught up, not
    // carried into the following bytes.
    Clock::time_point start{};
    if (cfg.link) {
        std::this_thread::sleep_until(rxFree);
        start = std::max(Clock::now(), txFree);
        txFree = start + byteTime * n;
    }
    int done = 0;
    while (done < n && !stop) {
        int chunk = n - done;
        if (cfg.link) {
            chunk = std::min(chunk, kPaceBytes);
            std::this_thread::sleep_until(start + byteTime * (done + chunk));
        }
        const ssize_t w = ::write(master, p + done, size_t(chunk));
        if (w < 0 && errno == EAGAIN) {
            pollfd pfd{master, POLLOUT, 0};
            poll(&pfd, 1, kIdlePollMs);
            continue;
        }
        if (w <= 0)
            return;
        done += int(w);
    }
    std::lock_guard<std::mutex> g(m);
    rep.boardBytes += uint64_t(done);
}

void SerialBoard::Impl::noise(int n)
{
    std::vector<uint8_t> bytes(size_t(std::max(n, 0)));
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = (i & 1) ? 0xAA : 0x55;
    send(bytes.data(), int(bytes.size()));
}

void SerialBoard::Impl::falseStarts(int n)
{
    static const uint8_t kBytes[] = {kSoh, 0x55, kStx, 0xFE, kSoh, 0xAA};
    std::vector<uint8_t> bytes(size_t(std::max(n, 0)));
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = kBytes[i % sizeof(kBytes)];
    send(bytes.data(), int(bytes.size()));
}

void SerialBoard::Impl::run()
{
    while (!stop) {
        if (down) {
            rx.clear();
            rxPos = 0;
            if (returns && Clock::now() >= upAt) {
                down = false;
                board.enumerated(upMode);
                {
                    std::lock_guard<std::mutex> g(m);
                    rep.down = false;
                }
                sendByte(kAttention); // a new connection handshake, please
            } else {
                uint8_t scratch[4096];
                pollfd pfd{master, POLLIN, 0};
                if (poll(&pfd, 1, kIdlePollMs) > 0)
                    (void)!::read(master, scratch, sizeof(scratch));
            }
            continue;
        }
        const int b = readByte(kIdlePollMs);
        if (b >= 0)
            dispatch(uint8_t(b));
    }
}

void SerialBoard::Impl::answerRequest(SerialPoint at, bool *proceed)
{
    *proceed = false;
    SerialFaultKind kind;
    int value = 0;
    if (fire(at, &kind, &value)) {
        if (kind == SerialFaultKind::Silent)
            return;
        if (kind == SerialFaultKind::Attention) {
            sendByte(kAttention);
            if (at == SerialPoint::Connect) {
                // The host acknowledges and reads one more byte.
                if (readByte(500) == kAck)
                    sendByte(kAck);
            } else {
                board.left(); // a new connection: the command in progress is gone
                resetStream();
            }
            return;
        }
        if (kind == SerialFaultKind::Late)
            std::this_thread::sleep_for(std::chrono::milliseconds(value));
        else
            noise(value);
    }
    sendByte(kAck);
    *proceed = true;
}

void SerialBoard::Impl::dispatch(uint8_t b)
{
    bool proceed;
    switch (b) {
    case kConnect: {
        std::lock_guard<std::mutex> g(m);
        rep.connects++;
    }
        answerRequest(SerialPoint::Connect, &proceed);
        break;
    case kDc1: {
        std::lock_guard<std::mutex> g(m);
        rep.dc1s++;
    }
        answerRequest(SerialPoint::Dc1, &proceed);
        break;
    case kDc2: {
        std::lock_guard<std::mutex> g(m);
        rep.dc2s++;
    }
        answerRequest(SerialPoint::Dc2, &proceed);
        if (proceed)
            sendPhase();
        break;
    case kSoh:
    case kStx:
        receiveFrame(b);
        break;
    default: {
        std::lock_guard<std::mutex> g(m);
        rep.strays.push_back(b);
        break;
    }
    }
}

void SerialBoard::Impl::receiveFrame(uint8_t head)
{
    SerialFrameRecord rec;
    rec.isLong = head == kStx;
    uint8_t hdr[3];
    if (!readExact(hdr, rec.isLong ? 2 : 3, kFrameHeadMs)) {
        rec.outcome = SerialFrameRecord::Outcome::Incomplete;
        record(rec, true);
        return;
    }
    rec.block = hdr[0];
    rec.length = rec.isLong ? kLong : hdr[2];
    std::vector<uint8_t> body(size_t(rec.length) + 2);
    if (!readExact(body.data(), rec.length + 2, kFrameBodyMs)) {
        rec.outcome = SerialFrameRecord::Outcome::Incomplete;
        record(rec, true);
        return;
    }
    if (uint8_t(hdr[0] + hdr[1]) != 0xff) {
        rec.outcome = SerialFrameRecord::Outcome::BadComplement;
        record(rec, true);
        return;
    }
    const uint16_t crc = uint16_t(body[size_t(rec.length)] << 8 | body[size_t(rec.length) + 1]);
    if (serialCrc16(body.data(), size_t(rec.length)) != crc) {
        rec.outcome = SerialFrameRecord::Outcome::BadCrc;
        record(rec, true);
        sendByte(kNak);
        return;
    }
    SerialFaultKind kind;
    int value = 0;
    const bool faulty = fire(SerialPoint::HostFrame, &kind, &value);
    const bool ackLost = faulty && kind == SerialFaultKind::LostAck;
    if (faulty && !ackLost) {
        rec.outcome = SerialFrameRecord::Outcome::Refused;
        record(rec, true);
        if (kind == SerialFaultKind::Nak)
            sendByte(kNak);
        else if (kind == SerialFaultKind::Attention)
            sendByte(kAttention);
        return;
    }
    if (rec.block == lastHostBlock) {
        rec.outcome = SerialFrameRecord::Outcome::Repeat;
    } else {
        lastHostBlock = rec.block;
        out.insert(out.end(), body.begin(), body.begin() + rec.length);
        feed();
    }
    record(rec, true);
    if (!ackLost)
        sendByte(kAck);
}

void SerialBoard::Impl::resetStream()
{
    out.clear();
    expectData = false;
    pendingIn.clear();
}

// Hands every complete command wrapper and data phase to the board model.
void SerialBoard::Impl::feed()
{
    const uint8_t outEp = board.config().outEndpoint;
    for (;;) {
        if (expectData) {
            if (out.size() < dataLen)
                return;
            const auto r = board.transfer(outEp, out.data(), int(dataLen), 10000);
            out.erase(out.begin(), out.begin() + long(dataLen));
            expectData = false;
            if (r.rc != 0) {
                resetStream();
                return;
            }
            pendingIn.push_back(13);
            continue;
        }
        if (out.size() < 31)
            return;
        // A host that gave up on a packet before its last phase has moved
        // on: the command in progress is dropped, the new one taken.
        if (!pendingIn.empty())
            board.left();
        const uint32_t len = detail::le32(out.data() + 8);
        const bool in = out[12] & 0x80;
        const auto r = board.transfer(outEp, out.data(), 31, 10000);
        out.erase(out.begin(), out.begin() + 31);
        if (r.rc != 0) {
            resetStream();
            return;
        }
        pendingIn.clear();
        if (in) {
            if (len > 0)
                pendingIn.push_back(len);
            pendingIn.push_back(13);
        } else if (len > 0) {
            expectData = true;
            dataLen = len;
        } else {
            pendingIn.push_back(13);
        }
    }
}

void SerialBoard::Impl::goDown(const detail::TransferResult &r)
{
    resetStream();
    down = true;
    returns = r.restart.returns;
    upMode = r.restart.mode;
    upAt = Clock::now() + std::chrono::milliseconds(r.restart.delayMs);
    lastHostBlock = -1;
    std::lock_guard<std::mutex> g(m);
    rep.restarts++;
    rep.down = true;
}

// The next board-to-host phase the board owes, in frames; CAN when it owes
// none or the board model refuses.
void SerialBoard::Impl::sendPhase()
{
    if (pendingIn.empty()) {
        sendByte(kCan);
        return;
    }
    const uint32_t len = pendingIn.front();
    pendingIn.pop_front();
    std::vector<uint8_t> buf(len);
    const auto r = board.transfer(board.config().inEndpoint, buf.data(), int(len), 10000);
    if (r.waitMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(r.waitMs));
    if (r.rc == 0) {
        if (sendFrames(buf.data(), r.transferred) && cfg.canAfterPhase)
            sendByte(kCan);
    } else {
        pendingIn.clear();
        if (!(r.bus == detail::TransferResult::Bus::Leave &&
              board.config().restartAnswer == RestartAnswer::Silent))
            sendByte(kCan);
    }
    if (r.bus != detail::TransferResult::Bus::None)
        goDown(r);
}

int SerialBoard::Impl::readAnswer()
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(cfg.frameAnswerMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0)
            return -1;
        const int b = readByte(int(left));
        if (b == kAck || b == kNak)
            return b;
        if (b == kConnect || b == kDc1 || b == kDc2) {
            // The host has moved on to its next request: no answer is coming.
            rxPos--;
            return -2;
        }
        if (b >= 0) {
            std::lock_guard<std::mutex> g(m);
            rep.strays.push_back(uint8_t(b));
        }
    }
}

// Frames of 1024 bytes while that many are left, short ones of up to 176
// after; each repeated on NAK or silence. False when the phase ended early.
bool SerialBoard::Impl::sendFrames(const uint8_t *data, int size)
{
    int off = 0;
    while (off < size) {
        const int n = size - off >= kLong ? kLong : std::min(size - off, kShortMax);
        std::vector<uint8_t> frame;
        frame.push_back(n == kLong ? kStx : kSoh);
        frame.push_back(nextBlock);
        frame.push_back(uint8_t(255 - nextBlock));
        if (n != kLong)
            frame.push_back(uint8_t(n));
        frame.insert(frame.end(), data + off, data + off + n);
        const uint16_t crc = serialCrc16(data + off, size_t(n));
        frame.push_back(uint8_t(crc >> 8));
        frame.push_back(uint8_t(crc));

        SerialFrameRecord rec;
        rec.isLong = n == kLong;
        rec.block = nextBlock;
        rec.length = n;
        int tries = 0;
        for (;;) {
            std::vector<uint8_t> wire = frame;
            SerialFaultKind kind;
            int value = 0;
            const bool faulty = fire(SerialPoint::BoardFrame, &kind, &value);
            if (faulty && kind == SerialFaultKind::Attention) {
                sendByte(kAttention);
                board.left();
                resetStream();
                return false;
            }
            if (faulty && kind == SerialFaultKind::Can) {
                sendByte(kCan);
                return false;
            }
            if (faulty && kind == SerialFaultKind::Noise)
                noise(value);
            if (faulty && kind == SerialFaultKind::FalseStart)
                falseStarts(value);
            if (faulty && kind == SerialFaultKind::BadCrc)
                wire[wire.size() - 1] ^= 0xFF;
            if (faulty && kind == SerialFaultKind::BadComplement)
                wire[2] ^= 0x5A;
            send(wire.data(), int(wire.size()));
            record(rec, false);
            int answer = readAnswer();
            {
                std::lock_guard<std::mutex> g(m);
                rep.answers.push_back(answer);
            }
            if (answer == kAck && faulty && kind == SerialFaultKind::LostAck) {
                // The ACK was lost on the line: the same frame once more.
                send(frame.data(), int(frame.size()));
                record(rec, false);
                const int again = readAnswer();
                std::lock_guard<std::mutex> g(m);
                rep.answers.push_back(again);
            }
            if (answer == kAck)
                break;
            if (answer == -2 || ++tries > kRepeats || stop)
                return false;
        }
        nextBlock = nextBlock == 255 ? 1 : uint8_t(nextBlock + 1);
        off += n;
    }
    return true;
}

SerialBoard::SerialBoard(const SerialConfig &config) : m_impl(std::make_unique<Impl>(config))
{
    if (m_impl->open())
        m_impl->thread = std::thread([this] { m_impl->run(); });
}

SerialBoard::~SerialBoard()
{
    m_impl->stop = true;
    if (m_impl->thread.joinable())
        m_impl->thread.join();
    if (m_impl->slave >= 0)
        ::close(m_impl->slave);
    if (m_impl->master >= 0)
        ::close(m_impl->master);
}

bool SerialBoard::ok() const
{
    return m_impl->thread.joinable();
}

std::string SerialBoard::error() const
{
    return m_impl->err;
}

std::string SerialBoard::path() const
{
    return m_impl->path;
}

void SerialBoard::addFault(const SerialFault &fault)
{
    std::lock_guard<std::mutex> g(m_impl->m);
    m_impl->faults.push_back({fault, fault.skip, fault.count});
}

void SerialBoard::clearFaults()
{
    std::lock_guard<std::mutex> g(m_impl->m);
    m_impl->faults.clear();
}

SerialReport SerialBoard::report()
{
    std::lock_guard<std::mutex> g(m_impl->m);
    return m_impl->rep;
}

BoardReport SerialBoard::boardReport()
{
    return m_impl->board.report();
}

} // namespace vboard
