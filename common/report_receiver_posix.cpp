#include "report_receiver.h"
#include "report_endpoint_posix.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// Reads exactly size bytes; a sender writes its record at once, so the short
// receive time-out only guards against a peer that stalls.
bool recvAll(int fd, char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

quint32 getLe32(const unsigned char *in)
{
    return quint32(in[0]) | quint32(in[1]) << 8 | quint32(in[2]) << 16 | quint32(in[3]) << 24;
}

bool fillAddress(const QByteArray &path, sockaddr_un *addr)
{
    if (path.isEmpty() || static_cast<size_t>(path.size()) >= sizeof(addr->sun_path))
        return false;
    std::memset(addr, 0, sizeof(*addr));
    addr->sun_family = AF_UNIX;
    std::memcpy(addr->sun_path, path.constData(), static_cast<size_t>(path.size()));
    return true;
}

// True when some process accepts connections on the socket file.
bool someoneListens(const sockaddr_un &addr)
{
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    const bool listening = ::connect(probe, reinterpret_cast<const sockaddr *>(&addr), sizeof(addr)) == 0;
    ::close(probe);
    return listening;
}
}  // namespace

ReportReceiver::ReportReceiver(const QString &windowTitle, QObject *parent)
    : QObject(parent), m_title(windowTitle)
{
}

ReportReceiver::~ReportReceiver()
{
    stop();
}

bool ReportReceiver::listen()
{
    if (isListening())
        return true;
    m_path = reportSocketPath(m_title);
    sockaddr_un addr;
    if (!fillAddress(m_path, &addr))
        return false;
    if (someoneListens(addr))
        return false;
    // A socket file left by a console that was killed.
    ::unlink(m_path.constData());

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0 || ::listen(fd, 64) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ReportReceiver::acceptPending);
    return true;
}

void ReportReceiver::stop()
{
    if (!isListening())
        return;
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_fd);
    m_fd = -1;
    ::unlink(m_path.constData());
}

void ReportReceiver::acceptPending()
{
    for (;;) {
        const int conn = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0)
            return;
        const timeval timeout{2, 0};
        ::setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));

        unsigned char head[8];
        if (recvAll(conn, reinterpret_cast<char *>(head), sizeof(head))) {
            const quint32 kind = getLe32(head);
            const quint32 size = getLe32(head + 4);
            if (size <= kMaxReportPayload) {
                QByteArray payload(static_cast<int>(size), '\0');
                if (recvAll(conn, payload.data(), size)) {
                    emit reportReceived(kind, payload);
                    const char ack = 1;
                    ::send(conn, &ack, 1, MSG_NOSIGNAL);
                }
            }
        }
        ::close(conn);
    }
}
