// The test library's side of the board farm.
#include "backend.h"
#include "farm_proto.h"

#include <libusb.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

namespace vboard {
namespace detail {
namespace farm {

bool readFull(int fd, void *buf, size_t n)
{
    uint8_t *p = static_cast<uint8_t *>(buf);
    while (n) {
        const ssize_t r = recv(fd, p, n, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

bool writeMsg(int fd, const Header &h, const void *payload)
{
    struct iovec iov[2] = {{const_cast<Header *>(&h), sizeof h},
                           {const_cast<void *>(payload), payload ? h.len : 0}};
    struct msghdr m = {};
    m.msg_iov = iov;
    m.msg_iovlen = payload && h.len ? 2 : 1;
    size_t left = sizeof h + (payload ? h.len : 0);
    while (left) {
        const ssize_t w = sendmsg(fd, &m, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        left -= size_t(w);
        size_t k = size_t(w);
        while (k && m.msg_iovlen) {
            if (k >= m.msg_iov->iov_len) {
                k -= m.msg_iov->iov_len;
                m.msg_iov++;
                m.msg_iovlen--;
            } else {
                m.msg_iov->iov_base = static_cast<uint8_t *>(m.msg_iov->iov_base) + k;
                m.msg_iov->iov_len -= k;
                k = 0;
            }
        }
    }
    return true;
}

int connectTo(const std::string &path)
{
    struct sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(a.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    const int size = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return fd;
}

} // namespace farm

namespace {

using farm::Header;

// A request/answer connection; answers without payload (or with a payload
// read into `in`).
class Conn {
public:
    explicit Conn(int fd) : m_fd(fd) {}
    ~Conn()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    int fd() const { return m_fd; }

    bool call(const Header &req, const void *payload, Header *reply, void *in, uint32_t inMax)
    {
        if (m_fd < 0 || !farm::writeMsg(m_fd, req, payload) || !readReply(reply, in, inMax)) {
            if (m_fd >= 0)
                close(m_fd);
            m_fd = -1;
            return false;
        }
        return true;
    }

private:
    // The answer header and its payload in as few calls as possible: the
    // farm sends nothing else on this connection, so reading ahead is safe.
    bool readReply(Header *reply, void *in, uint32_t inMax)
    {
        struct iovec iov[2] = {{reply, sizeof *reply}, {in, in ? inMax : 0}};
        struct msghdr m = {};
        m.msg_iov = iov;
        m.msg_iovlen = in && inMax ? 2 : 1;
        ssize_t got = -1;
        while (got < 0) {
            got = recvmsg(m_fd, &m, 0);
            if (got < 0 && errno != EINTR)
                return false;
        }
        if (got == 0)
            return false;
        const size_t head = std::min<size_t>(size_t(got), sizeof *reply);
        if (!farm::readFull(m_fd, reinterpret_cast<uint8_t *>(reply) + head, sizeof *reply - head))
            return false;
        const size_t have = size_t(got) - head;
        if (reply->type != farm::kReply || reply->len > inMax || have > reply->len)
            return false;
        return farm::readFull(m_fd, static_cast<uint8_t *>(in) + have, reply->len - have);
    }

    int m_fd;
};

class FarmChannel : public Channel {
public:
    explicit FarmChannel(int fd) : m_conn(fd) {}

    // Makes this connection a handle of the device's enumeration `instance`.
    int open(uint64_t instance)
    {
        char name[64];
        snprintf(name, sizeof name, "pid %d", int(getpid()));
        Header h = {};
        h.type = farm::kOpen;
        h.b = int32_t(getpid());
        h.c = instance;
        h.len = uint32_t(strlen(name));
        Header r;
        return m_conn.call(h, name, &r, nullptr, 0) ? r.a : LIBUSB_ERROR_NO_DEVICE;
    }

    int claim(int interface) override { return simple(farm::kClaim, interface); }
    int release(int interface) override { return simple(farm::kRelease, interface); }

    int bulk(uint8_t ep, uint8_t *data, int len, int *transferred, unsigned timeoutMs) override
    {
        std::lock_guard<std::mutex> g(m_mutex);
        *transferred = 0;
        if (len < 0)
            return LIBUSB_ERROR_INVALID_PARAM;
        Header h = {};
        h.a = ep;
        h.c = timeoutMs;
        Header r;
        bool ok;
        if (ep & 0x80) {
            h.type = farm::kBulkIn;
            h.b = len;
            ok = m_conn.call(h, nullptr, &r, data, uint32_t(len));
        } else {
            h.type = farm::kBulkOut;
            h.len = uint32_t(len);
            ok = m_conn.call(h, data, &r, nullptr, 0);
        }
        if (!ok)
            return LIBUSB_ERROR_NO_DEVICE; // the farm is gone, and its devices with it
        *transferred = r.b;
        return r.a;
    }

private:
    int simple(uint32_t type, int a)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        Header h = {};
        h.type = type;
        h.a = a;
        Header r;
        return m_conn.call(h, nullptr, &r, nullptr, 0) ? r.a : LIBUSB_ERROR_NO_DEVICE;
    }

    std::mutex m_mutex;
    Conn m_conn;
};

class FarmBackend : public Backend {
public:
    FarmBackend(const std::string &path, int listFd, int eventFd)
        : m_path(path), m_list(listFd), m_events(eventFd)
    {
        m_buffer.reserve(64 * sizeof(Header));
    }
    ~FarmBackend() override { close(m_events); }

    int list(std::vector<DevInfo> *out) override
    {
        std::lock_guard<std::mutex> g(m_listMutex);
        Header h = {};
        h.type = farm::kList;
        Header r;
        out->assign(kMaxDevices, DevInfo());
        if (!m_list.call(h, nullptr, &r, out->data(), uint32_t(out->size() * sizeof(DevInfo)))) {
            fprintf(stderr, "vusb: lost the board farm at %s\n", m_path.c_str());
            out->clear();
            return LIBUSB_ERROR_IO;
        }
        out->resize(r.len / sizeof(DevInfo));
        return r.a;
    }

    int open(const DevInfo &dev, std::unique_ptr<Channel> *out) override
    {
        const int fd = farm::connectTo(m_path);
        if (fd < 0)
            return LIBUSB_ERROR_NO_DEVICE;
        std::unique_ptr<FarmChannel> ch(new FarmChannel(fd));
        const int rc = ch->open(dev.instance);
        if (rc != 0)
            return rc;
        *out = std::move(ch);
        return 0;
    }

    int eventFd() override { return m_events; }

    void drainEvents(std::vector<BusEvent> *out) override
    {
        std::lock_guard<std::mutex> g(m_eventMutex);
        out->clear();
        uint8_t chunk[16384];
        for (;;) {
            const ssize_t n = recv(m_events, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n == 0) {
                // The farm is gone. Keep the descriptor number valid but
                // quiet, so that an event loop watching it does not spin.
                fprintf(stderr, "vusb: lost the board farm at %s\n", m_path.c_str());
                const int quiet = eventfd(0, EFD_CLOEXEC);
                if (quiet >= 0) {
                    dup3(quiet, m_events, O_CLOEXEC);
                    close(quiet);
                }
                break;
            }
            if (n < 0)
                break;
            m_buffer.insert(m_buffer.end(), chunk, chunk + n);
        }
        const size_t msg = sizeof(Header) + sizeof(DevInfo);
        size_t pos = 0;
        while (m_buffer.size() - pos >= msg) {
            Header h;
            memcpy(&h, &m_buffer[pos], sizeof h);
            BusEvent ev;
            ev.arrived = h.a != 0;
            memcpy(&ev.info, &m_buffer[pos + sizeof h], sizeof ev.info);
            out->push_back(ev);
            pos += msg;
        }
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + long(pos));
    }

private:
    static constexpr size_t kMaxDevices = 4096;
    std::mutex m_listMutex;
    std::mutex m_eventMutex;
    std::string m_path;
    Conn m_list;
    int m_events;
    std::vector<uint8_t> m_buffer;
};

} // namespace

std::unique_ptr<Backend> makeFarmBackend(const std::string &socketPath)
{
    const int listFd = farm::connectTo(socketPath);
    if (listFd < 0) {
        fprintf(stderr, "vusb: no board farm answers at %s (%s)\n", socketPath.c_str(),
                strerror(errno));
        return nullptr;
    }
    const int eventFd = farm::connectTo(socketPath);
    Header h = {};
    h.type = farm::kSubscribe;
    Header ack;
    // The farm acknowledges once its listener is in place: no event after
    // this call can be missed.
    if (eventFd < 0 || !farm::writeMsg(eventFd, h, nullptr) || !farm::readFull(eventFd, &ack, sizeof ack) ||
        ack.type != farm::kReply) {
        fprintf(stderr, "vusb: cannot subscribe to the board farm at %s\n", socketPath.c_str());
        close(listFd);
        if (eventFd >= 0)
            close(eventFd);
        return nullptr;
    }
    return std::unique_ptr<Backend>(new FarmBackend(socketPath, listFd, eventFd));
}

} // namespace detail

bool farmCommand(const std::string &socketPath, const std::string &line, std::string *reply)
{
    std::string path = socketPath;
    if (path.empty()) {
        const char *env = getenv(kFarmEnv);
        path = env ? env : "";
    }
    reply->clear();
    if (path.empty()) {
        *reply = std::string("error: no farm socket given and ") + kFarmEnv + " is not set\n";
        return false;
    }
    const int fd = detail::farm::connectTo(path);
    if (fd < 0) {
        *reply = "error: no board farm answers at " + path + "\n";
        return false;
    }
    detail::farm::Header h = {};
    h.type = detail::farm::kControl;
    h.len = uint32_t(line.size());
    detail::farm::Header r;
    bool ok = detail::farm::writeMsg(fd, h, line.data()) && detail::farm::readFull(fd, &r, sizeof r) &&
              r.len <= detail::farm::kMaxPayload;
    if (ok) {
        reply->resize(r.len);
        ok = detail::farm::readFull(fd, &(*reply)[0], r.len);
    }
    close(fd);
    if (!ok) {
        *reply = "error: the board farm at " + path + " did not answer\n";
        return false;
    }
    return r.a == 1;
}

} // namespace vboard
