// vboard-farm: the board farm process and its control command.
//
//   vboard-farm start [options]      start a farm (see README.md)
//   vboard-farm [--socket PATH] LINE send one control line to a running farm
//
// The farm holds the devices of an in-process bus (vboard_host.h) and serves
// them to test-library clients over its Unix socket, one thread per
// connection. With --tcp it serves the same protocol on the loopback address
// too, for the Windows test library under wine.
#include "bus.h"
#include "farm_proto.h"

#include <libusb.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace vboard;
using namespace vboard::detail;
using farm::Header;

namespace {

std::string g_socketPath;
int g_stopPipe[2] = {-1, -1};

void usage()
{
    fprintf(stderr,
            "usage: vboard-farm start [--socket PATH] [--foreground] [--log FILE] [--boards N]\n"
            "                         [--board POS]... [--hubs N] [--keyboards N] [--others N]\n"
            "                         [--others-first] [--trace FILE] [--tcp PORT]\n"
            "                         [BOARD_OPTION=VALUE...]\n"
            "       vboard-farm [--socket PATH] CONTROL LINE...   (plug, unplug, restart, fault,\n"
            "                         set, state, received, memory, wait, trace, remove, stop)\n"
            "The socket defaults to $%s.\n",
            kFarmEnv);
}

bool reply(int fd, int32_t a, int32_t b, const void *payload, uint32_t len)
{
    Header h = {};
    h.type = farm::kReply;
    h.a = a;
    h.b = b;
    h.len = len;
    return farm::writeMsg(fd, h, payload);
}

bool sendAll(int fd, const uint8_t *p, size_t n)
{
    while (n) {
        const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= size_t(w);
    }
    return true;
}

// Pushes bus events to one subscriber until it hangs up.
void serveEvents(int fd)
{
    std::mutex m;
    std::deque<BusEvent> queue;
    const int efd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int listener = addListener([&](const BusEvent &ev) {
        std::lock_guard<std::mutex> g(m);
        queue.push_back(ev);
        const uint64_t one = 1;
        if (write(efd, &one, sizeof one) < 0) {
            // Only saturates the counter; the queue holds the event.
        }
    });
    // Events from here on reach the subscriber: tell it so.
    std::vector<uint8_t> out;
    for (bool ok = reply(fd, 0, 0, nullptr, 0); ok;) {
        struct pollfd p[2] = {{fd, POLLIN, 0}, {efd, POLLIN, 0}};
        if (poll(p, 2, -1) < 0 && errno != EINTR)
            break;
        if (p[0].revents) {
            char c;
            if (recv(fd, &c, 1, MSG_DONTWAIT) <= 0)
                break;
        }
        if (!(p[1].revents & POLLIN))
            continue;
        uint64_t v;
        if (read(efd, &v, sizeof v) < 0)
            continue;
        std::deque<BusEvent> batch;
        {
            std::lock_guard<std::mutex> g(m);
            batch.swap(queue);
        }
        out.clear();
        for (const BusEvent &ev : batch) {
            Header h = {};
            h.type = farm::kEvent;
            h.a = ev.arrived ? 1 : 0;
            h.len = sizeof(DevInfo);
            const uint8_t *hp = reinterpret_cast<const uint8_t *>(&h);
            const uint8_t *ip = reinterpret_cast<const uint8_t *>(&ev.info);
            out.insert(out.end(), hp, hp + sizeof h);
            out.insert(out.end(), ip, ip + sizeof ev.info);
        }
        ok = sendAll(fd, out.data(), out.size());
    }
    removeListener(listener);
    close(efd);
}

void serve(int fd)
{
    std::vector<uint8_t> buf(65536 + 64);
    uint64_t instance = 0;
    std::string owner;
    const void *ownerKey = &instance; // unique per connection
    for (;;) {
        // Clients send one request and wait for its answer, so the request
        // and its payload can be read together.
        Header h;
        struct iovec iov[2] = {{&h, sizeof h}, {buf.data(), buf.size()}};
        struct msghdr m = {};
        m.msg_iov = iov;
        m.msg_iovlen = 2;
        ssize_t got;
        do
            got = recvmsg(fd, &m, 0);
        while (got < 0 && errno == EINTR);
        if (got <= 0)
            break;
        const size_t head = std::min(size_t(got), sizeof h);
        if (!farm::readFull(fd, reinterpret_cast<uint8_t *>(&h) + head, sizeof h - head) ||
            h.len > farm::kMaxPayload)
            break;
        const size_t have = size_t(got) - head;
        if (have > h.len)
            break;
        if (h.len > buf.size())
            buf.resize(h.len);
        if (!farm::readFull(fd, buf.data() + have, h.len - have))
            break;
        bool ok = true;
        switch (h.type) {
        case farm::kList: {
            const std::vector<DevInfo> d = listPresent();
            // The farm's clock with the list: a client on another clock (wine's)
            // reads the configuration times relative to it.
            Header r = {};
            r.type = farm::kReply;
            r.len = uint32_t(d.size() * sizeof(DevInfo));
            r.c = uint64_t(Clock::now().time_since_epoch() / std::chrono::nanoseconds(1));
            ok = farm::writeMsg(fd, r, d.data());
            break;
        }
        case farm::kOpen:
            instance = h.c;
            owner.assign(reinterpret_cast<const char *>(buf.data()), h.len);
            ok = reply(fd, openResult(instance), 0, nullptr, 0);
            break;
        case farm::kClaim:
            ok = reply(fd, claim(instance, h.a, ownerKey, owner), 0, nullptr, 0);
            break;
        case farm::kRelease:
            ok = reply(fd, release(instance, h.a, ownerKey), 0, nullptr, 0);
            break;
        case farm::kBulkOut: {
            int done = 0;
            const int rc = bulk(instance, ownerKey, uint8_t(h.a), buf.data(), int(h.len), &done,
                                unsigned(h.c));
            ok = reply(fd, rc, done, nullptr, 0);
            break;
        }
        case farm::kBulkIn: {
            if (h.b < 0 || uint32_t(h.b) > farm::kMaxPayload) {
                ok = reply(fd, LIBUSB_ERROR_INVALID_PARAM, 0, nullptr, 0);
                break;
            }
            if (uint32_t(h.b) > buf.size())
                buf.resize(uint32_t(h.b));
            int done = 0;
            const int rc = bulk(instance, ownerKey, uint8_t(h.a), buf.data(), h.b, &done, unsigned(h.c));
            ok = reply(fd, rc, done, buf.data(), uint32_t(done));
            break;
        }
        case farm::kSubscribe:
            serveEvents(fd);
            ok = false;
            break;
        case farm::kControl: {
            const std::string line(reinterpret_cast<const char *>(buf.data()), h.len);
            std::string answer;
            bool good;
            if (line == "stop") {
                answer = "ok\n";
                good = true;
            } else {
                good = control(line, &answer);
            }
            ok = reply(fd, good ? 1 : 0, 0, answer.data(), uint32_t(answer.size()));
            if (line == "stop" && g_stopPipe[1] >= 0) {
                const char c = 's';
                if (write(g_stopPipe[1], &c, 1) < 0) {
                    // The farm stops on the next signal instead.
                }
            }
            break;
        }
        default:
            ok = false;
            break;
        }
        if (!ok)
            break;
    }
    releaseAll(ownerKey);
    close(fd);
}

void onSignal(int)
{
    const char c = 's';
    if (write(g_stopPipe[1], &c, 1) < 0) {
        // Nothing more can be done in a signal handler.
    }
}

int listenAt(const std::string &path, std::string *error)
{
    struct sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    if (path.size() >= sizeof a.sun_path) {
        *error = "socket path too long";
        return -1;
    }
    const int probe = farm::connectTo(path);
    if (probe >= 0) {
        close(probe);
        *error = "a farm already listens at " + path;
        return -1;
    }
    unlink(path.c_str());
    memcpy(a.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 128) != 0) {
        *error = "cannot listen at " + path + ": " + strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    chmod(path.c_str(), 0600);
    return fd;
}

// The loopback TCP listener; port 0 takes any free port. -1 on failure.
int listenTcp(int port, int *boundPort, std::string *error)
{
    struct sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 128) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    *boundPort = ntohs(a.sin_port);
    return fd;
}

struct StartOptions {
    std::string socket;
    int tcpPort = -1; // no TCP listener
    bool foreground = false;
    std::string log;
    std::vector<UsbPosition> boards;
    int hubs = 0, keyboards = 0, others = 0;
    bool othersFirst = false;
    std::string trace;
    std::string boardOptions;
};

bool populate(const StartOptions &o, std::string *error)
{
    uint8_t port = 1;
    auto plain = [&](const char *kind, int n) {
        for (int i = 0; i < n; i++) {
            std::string answer;
            const std::string pos = "2:" + std::to_string(port++);
            if (!control(std::string("plug ") + kind + " " + pos, &answer)) {
                *error = answer;
                return false;
            }
        }
        return true;
    };
    auto others = [&]() {
        return plain("hub", o.hubs) && plain("keyboard", o.keyboards) && plain("device", o.others);
    };
    if (o.othersFirst && !others())
        return false;
    for (const UsbPosition &p : o.boards) {
        std::string answer;
        if (!control("plug board " + p.text() + o.boardOptions, &answer)) {
            *error = answer;
            return false;
        }
    }
    return o.othersFirst || others();
}

int runFarm(const StartOptions &o, int readyFd)
{
    std::string error;
    auto fail = [&](const std::string &why) {
        if (readyFd >= 0) {
            const std::string m = "E" + why;
            if (write(readyFd, m.data(), m.size()) < 0) {
                // The parent reports a farm that ended without a word.
            }
        } else {
            fprintf(stderr, "vboard-farm: %s\n", why.c_str());
        }
        return 1;
    };
    if (!o.trace.empty())
        setTraceFile(o.trace);
    if (!populate(o, &error))
        return fail(error);
    const int lfd = listenAt(o.socket, &error);
    if (lfd < 0)
        return fail(error);
    int tcpPort = -1;
    const int tfd = o.tcpPort >= 0 ? listenTcp(o.tcpPort, &tcpPort, &error) : -1;
    if (o.tcpPort >= 0 && tfd < 0)
        return fail(error);
    const std::string where =
        o.socket + (tfd >= 0 ? " and 127.0.0.1:" + std::to_string(tcpPort) : std::string());
    if (pipe2(g_stopPipe, O_CLOEXEC) != 0)
        return fail("pipe failed");
    g_socketPath = o.socket;
    signal(SIGTERM, onSignal);
    signal(SIGINT, onSignal);
    signal(SIGPIPE, SIG_IGN);
    if (readyFd >= 0) {
        const std::string m = "R" + where;
        if (write(readyFd, m.data(), m.size()) < 0) {
            // The parent is gone: run on regardless.
        }
        close(readyFd);
    } else {
        fprintf(stderr, "vboard-farm: listening at %s\n", where.c_str());
    }
    for (;;) {
        struct pollfd p[3] = {{g_stopPipe[0], POLLIN, 0}, {lfd, POLLIN, 0}, {tfd, POLLIN, 0}};
        if (poll(p, tfd >= 0 ? 3 : 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (p[0].revents)
            break;
        for (int i = 1; i < 3; i++) {
            if (!(p[i].revents & POLLIN))
                continue;
            const int c = accept4(p[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            const int size = 1 << 20;
            setsockopt(c, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
            setsockopt(c, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
            // Every request waits for its answer: no small-packet delay.
            const int on = 1;
            if (p[i].fd == tfd)
                setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            std::thread(serve, c).detach();
        }
    }
    close(lfd);
    if (tfd >= 0)
        close(tfd);
    unlink(g_socketPath.c_str());
    setTraceFile("");
    // Connection threads may still run: leave without running destructors.
    _exit(0);
}

int start(int argc, char **argv)
{
    StartOptions o;
    if (const char *env = getenv(kFarmEnv))
        o.socket = env;
    int nBoards = 0;
    for (int i = 0; i < argc; i++) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                fprintf(stderr, "vboard-farm: %s needs a value\n", a.c_str());
                exit(2);
            }
            return argv[++i];
        };
        if (a == "--socket")
            o.socket = value();
        else if (a == "--foreground")
            o.foreground = true;
        else if (a == "--log")
            o.log = value();
        else if (a == "--boards")
            nBoards = atoi(value().c_str());
        else if (a == "--board") {
            UsbPosition p;
            const std::string v = value();
            if (!UsbPosition::parse(v, &p)) {
                fprintf(stderr, "vboard-farm: bad position %s\n", v.c_str());
                return 2;
            }
            o.boards.push_back(p);
        } else if (a == "--hubs")
            o.hubs = atoi(value().c_str());
        else if (a == "--keyboards")
            o.keyboards = atoi(value().c_str());
        else if (a == "--others")
            o.others = atoi(value().c_str());
        else if (a == "--others-first")
            o.othersFirst = true;
        else if (a == "--trace")
            o.trace = value();
        else if (a == "--tcp")
            o.tcpPort = atoi(value().c_str());
        else if (a.find('=') != std::string::npos && a[0] != '-')
            o.boardOptions += " " + a;
        else {
            usage();
            return 2;
        }
    }
    for (int i = 1; i <= nBoards; i++) {
        UsbPosition p;
        p.bus = 1;
        p.ports = {uint8_t(i)};
        o.boards.push_back(p);
    }
    if (o.socket.empty()) {
        fprintf(stderr, "vboard-farm: no socket: give --socket PATH or set %s\n", kFarmEnv);
        return 2;
    }
    if (o.hubs + o.keyboards + o.others > 250) {
        fprintf(stderr, "vboard-farm: at most 250 other devices\n");
        return 2;
    }
    if (o.foreground)
        return runFarm(o, -1);

    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        perror("vboard-farm: pipe");
        return 1;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        perror("vboard-farm: fork");
        return 1;
    }
    if (pid == 0) {
        close(ready[0]);
        setsid();
        const int null = open("/dev/null", O_RDWR);
        const int err = o.log.empty() ? null : open(o.log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(null, 0);
        dup2(null, 1);
        dup2(err >= 0 ? err : null, 2);
        _exit(runFarm(o, ready[1]));
    }
    close(ready[1]);
    char buf[512];
    const ssize_t n = read(ready[0], buf, sizeof buf - 1);
    close(ready[0]);
    const std::string said = n > 1 ? std::string(buf + 1, size_t(n - 1)) : std::string();
    if (n <= 0 || buf[0] != 'R') {
        fprintf(stderr, "vboard-farm: %s\n", n > 1 ? said.c_str() : "the farm ended at start");
        return 1;
    }
    printf("vboard-farm: pid %d listening at %s\n", int(pid), said.c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    int i = 1;
    std::string socket;
    if (i + 1 < argc && std::string(argv[i]) == "--socket") {
        socket = argv[i + 1];
        i += 2;
    }
    if (i >= argc || std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
        usage();
        return i >= argc ? 2 : 0;
    }
    if (std::string(argv[i]) == "start") {
        std::vector<char *> rest(argv + i + 1, argv + argc);
        if (!socket.empty()) {
            static std::string opt = "--socket";
            rest.insert(rest.begin(), {&opt[0], &socket[0]});
        }
        return start(int(rest.size()), rest.data());
    }
    std::string line;
    for (; i < argc; i++)
        line += (line.empty() ? "" : " ") + std::string(argv[i]);
    std::string answer;
    const bool ok = farmCommand(socket, line, &answer);
    fputs(answer.c_str(), ok ? stdout : stderr);
    return ok ? 0 : 1;
}
