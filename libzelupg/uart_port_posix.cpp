// Serial ports over POSIX termios. The port name is a device path (for
// example /dev/ttyUSB0). Bytes read ahead while waiting for a count are kept
// in the port's own buffer, so that waiting never spins on a partial frame.

#include "uart_port.h"
#include "zelupg_log.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kReadConstantMs = 50;
constexpr int kReadPerByteMs = 10;
constexpr int kBufferSize = 4096;

struct PosixPort {
    int fd = -1;
    uint8_t buf[kBufferSize];
    int head = 0;  // first unread byte in buf
    int tail = 0;  // end of the bytes in buf
};

int64_t now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int buffered(const PosixPort *p)
{
    return p->tail - p->head;
}

// Reads what the line holds into the buffer, waiting up to timeout_ms for the
// first byte. Returns the count added (0 on time-out) or -1 on an error.
int fill(PosixPort *p, int timeout_ms)
{
    if (p->head == p->tail)
        p->head = p->tail = 0;
    if (p->tail == kBufferSize && p->head > 0) {
        std::memmove(p->buf, p->buf + p->head, size_t(buffered(p)));
        p->tail -= p->head;
        p->head = 0;
    }
    if (p->tail == kBufferSize)
        return 0;
    pollfd pfd{p->fd, POLLIN, 0};
    int rc;
    do {
        rc = poll(&pfd, 1, timeout_ms < 0 ? 0 : timeout_ms);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0)
        return -1;
    if (rc == 0)
        return 0;
    if (!(pfd.revents & POLLIN))
        return -1;  // hang-up or error without data
    ssize_t n;
    do {
        n = ::read(p->fd, p->buf + p->tail, size_t(kBufferSize - p->tail));
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return errno == EAGAIN ? 0 : -1;
    if (n == 0)
        return -1;
    p->tail += int(n);
    return int(n);
}

int port_write(void *port, const uint8_t *data, int len)
{
    auto *p = static_cast<PosixPort *>(port);
    int done = 0;
    while (done < len) {
        ssize_t n = ::write(p->fd, data + done, size_t(len - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd{p->fd, POLLOUT, 0};
            if (poll(&pfd, 1, kReadConstantMs + kReadPerByteMs * (len - done)) <= 0)
                return done;
            continue;
        }
        if (n <= 0)
            return done > 0 ? done : -1;
        done += int(n);
    }
    return done;
}

int port_read(void *port, uint8_t *buf, int len)
{
    auto *p = static_cast<PosixPort *>(port);
    const int64_t deadline = now_ms() + kReadConstantMs + int64_t(kReadPerByteMs) * len;
    while (buffered(p) < len) {
        const int64_t left = deadline - now_ms();
        if (left <= 0)
            break;
        int rc = fill(p, int(left));
        if (rc < 0 && buffered(p) == 0)
            return -1;
        if (rc <= 0)
            break;
    }
    const int n = buffered(p) < len ? buffered(p) : len;
    std::memcpy(buf, p->buf + p->head, size_t(n));
    p->head += n;
    return n;
}

int port_wait_input(void *port, int count, int timeout_ms)
{
    auto *p = static_cast<PosixPort *>(port);
    if (count > kBufferSize)
        return 0;
    const int64_t deadline = now_ms() + timeout_ms;
    while (buffered(p) < count) {
        const int64_t left = deadline - now_ms();
        if (left <= 0)
            return 0;
        if (fill(p, int(left)) < 0)
            return -1;
    }
    return 1;
}

void port_discard_input(void *port)
{
    auto *p = static_cast<PosixPort *>(port);
    p->head = p->tail = 0;
    tcflush(p->fd, TCIFLUSH);
}

void port_close(void *port)
{
    auto *p = static_cast<PosixPort *>(port);
    if (p->fd >= 0) {
        ioctl(p->fd, TIOCNXCL);
        ::close(p->fd);
    }
    delete p;
}

const uart_port_ops kOps = {port_write, port_read, port_wait_input, port_discard_input, port_close};

bool apply(int fd, termios *tio, const char *failure)
{
    if (tcsetattr(fd, TCSANOW, tio) == 0)
        return true;
    upg_err_as("uart_port_setup", "%s", failure);
    return false;
}

// 115200 baud, 8 data bits, one stop bit, no parity, raw bytes; then both
// directions purged. The read time-outs live in port_read, not in termios.
bool port_setup(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        upg_err_as("uart_port_setup", "Failed to get comm state");
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, B115200) != 0 || cfsetospeed(&tio, B115200) != 0 ||
        !apply(fd, &tio, "Failed to set baudrate"))
        return false;
    tio.c_cflag = (tio.c_cflag & ~tcflag_t(CSIZE)) | CS8;
    if (!apply(fd, &tio, "Failed to set databits"))
        return false;
    tio.c_cflag &= ~tcflag_t(CSTOPB);
    if (!apply(fd, &tio, "Failed to set stopbits"))
        return false;
    tio.c_cflag &= ~tcflag_t(PARENB);
    if (!apply(fd, &tio, "Failed to set parity"))
        return false;
    tcflush(fd, TCIOFLUSH);
    return true;
}

}  // namespace

void *uart_port_open(const char *port_name)
{
    if (!port_name)
        return nullptr;
    auto *p = new (std::nothrow) PosixPort;
    if (!p) {
        upg_err("Failed to malloc.");
        return nullptr;
    }
    // Exclusive like a COM port: a second opener gets EBUSY.
    p->fd = ::open(port_name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p->fd < 0 || ioctl(p->fd, TIOCEXCL) != 0) {
        upg_err("Failed to open COM device.");
        port_close(p);
        return nullptr;
    }
    if (!port_setup(p->fd)) {
        port_close(p);
        return nullptr;
    }
    return p;
}

const uart_port_ops *uart_port_platform_ops(void)
{
    return &kOps;
}
