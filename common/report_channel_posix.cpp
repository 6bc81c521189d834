// POSIX delivery of worker reports: one connection per report to the
// console's socket, one record, then a one-byte acknowledgement once the
// console has handled it. A record left unanswered stays in the socket, so a
// console that resumes later still handles it, in order.

#include "report_channel.h"
#include "report_endpoint_posix.h"
#include "report_record.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// Bounds connect and send, which block only while the console's queue of
// connections is full; never 0, which would mean no bound at all, unless
// the caller waits for ever.
void boundSending(int fd, const QDeadlineTimer &deadline)
{
    const qint64 ms = deadline.isForever() ? 0 : std::max<qint64>(deadline.remainingTime(), 1);
    const timeval timeout{static_cast<time_t>(ms / 1000),
                          static_cast<suseconds_t>(ms % 1000 * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
}

bool sendAll(int fd, const char *data, size_t size, const QDeadlineTimer &deadline)
{
    while (size > 0) {
        boundSending(fd, deadline);
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR && !deadline.hasExpired())
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Connects to the console; false with errno set when that fails.
bool connectBounded(int fd, const sockaddr_un &addr, const QDeadlineTimer &deadline)
{
    for (;;) {
        boundSending(fd, deadline);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof(addr)) == 0)
            return true;
        if (errno != EINTR || deadline.hasExpired())
            return false;
    }
}

// Waits for the acknowledgement until the deadline.
ReportDelivery awaitAnswer(int fd, const QDeadlineTimer &deadline)
{
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return ReportDelivery::Unanswered;
        char ack = 0;
        const ssize_t n = ::recv(fd, &ack, 1, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // Closed without an answer: the console went away meanwhile.
        return n == 1 ? ReportDelivery::Handled : ReportDelivery::NoConsole;
    }
}
}  // namespace

ReportDelivery deliverReport(const QString &windowTitle, quint32 kind, const QByteArray &payload,
                             int answerWaitMs)
{
    const QByteArray path = reportSocketPath(windowTitle);
    const QByteArray record = encodeReportRecord(kind, payload);
    if (path.isEmpty() || record.isEmpty())
        return ReportDelivery::NoConsole;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return ReportDelivery::NoConsole;
    const QDeadlineTimer deadline(answerWaitMs);
    ReportDelivery result = ReportDelivery::NoConsole;
    if (!connectBounded(fd, addr, deadline)) {
        // A full queue of connections: the console is there but not taking them.
        if (errno == EAGAIN)
            result = ReportDelivery::Unanswered;
    } else if (!sendAll(fd, record.constData(), static_cast<size_t>(record.size()), deadline)) {
        result = errno == EAGAIN ? ReportDelivery::Unanswered : ReportDelivery::NoConsole;
    } else {
        result = awaitAnswer(fd, deadline);
    }
    ::close(fd);
    return result;
}
