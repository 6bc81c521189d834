// POSIX delivery of worker reports: records on a connection to the console's
// socket, each answered with a one-byte acknowledgement once the console has
// handled it. A worker keeps its connection from report to report (a
// connection per report cost the console more than the report itself); a
// kept connection that turns out dead, because the console ended or was
// restarted since, is replaced by a new one for the same report. A record
// left unanswered stays in the socket, so a console that resumes later still
// handles it, in order; its connection is then given up, so that a late
// answer is never taken for the next report's. A posted record's answer is
// awaited when the next record goes, so at most one is unanswered.

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
// A sending thread's connection to the console and the title it was made
// for; a worker sends from one thread only. Closed when the thread ends.
struct KeptConnection {
    int fd = -1;
    QString title;
    bool inFlight = false;  // a posted record's answer is still to come

    void drop()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        inFlight = false;
    }
    ~KeptConnection() { drop(); }
};
thread_local KeptConnection t_kept;

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

// A new connection to the console with this title; -1 with errno set when
// there is none (errno EAGAIN: its queue of connections is full).
int connectBounded(const QString &windowTitle, const QDeadlineTimer &deadline)
{
    const QByteArray path = reportSocketPath(windowTitle);
    if (path.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    for (;;) {
        boundSending(fd, deadline);
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof(addr)) == 0)
            return fd;
        if (errno != EINTR || deadline.hasExpired())
            break;
    }
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
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

// Sends one record on the connection. NoConsole when the console behind it
// has ended.
ReportDelivery sendRecord(int fd, const QByteArray &record, const QDeadlineTimer &deadline)
{
    if (!sendAll(fd, record.constData(), static_cast<size_t>(record.size()), deadline))
        return errno == EAGAIN ? ReportDelivery::Unanswered : ReportDelivery::NoConsole;
    return ReportDelivery::Sent;
}

// The answer to a record posted earlier, awaited until the deadline; Sent
// when none awaits one. A record left unanswered stays with the console; its
// connection is given up, so that its late answer is never taken for the
// next record's.
ReportDelivery settle(KeptConnection &kept, const QDeadlineTimer &deadline)
{
    if (!kept.inFlight)
        return ReportDelivery::Sent;
    kept.inFlight = false;
    const ReportDelivery answer = awaitAnswer(kept.fd, deadline);
    if (answer != ReportDelivery::Handled)
        kept.drop();
    return answer;
}

// Sends the record on the kept connection, or on a new one when there is
// none or the console behind it has ended (the record was not handled
// there, and a console started since gets it instead); with wait, until it
// is answered.
ReportDelivery transmit(KeptConnection &kept, const QString &windowTitle, const QByteArray &record,
                        bool wait, const QDeadlineTimer &deadline)
{
    if (kept.fd >= 0 && kept.title != windowTitle)
        kept.drop();
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool reused = kept.fd >= 0;
        if (!reused) {
            kept.fd = connectBounded(windowTitle, deadline);
            kept.title = windowTitle;
            if (kept.fd < 0)
                // A full queue of connections: the console is there but not taking them.
                return errno == EAGAIN ? ReportDelivery::Unanswered : ReportDelivery::NoConsole;
        }
        ReportDelivery result = sendRecord(kept.fd, record, deadline);
        if (result == ReportDelivery::Sent && wait)
            result = awaitAnswer(kept.fd, deadline);
        if (result == ReportDelivery::Sent)
            kept.inFlight = true;
        else if (result != ReportDelivery::Handled)
            kept.drop();
        if (result != ReportDelivery::NoConsole || !reused)
            return result;
    }
    return ReportDelivery::NoConsole;
}

ReportDelivery send(const QString &windowTitle, quint32 kind, const QByteArray &payload,
                    int answerWaitMs, bool wait)
{
    const QByteArray record = encodeReportRecord(kind, payload);
    if (record.isEmpty())
        return ReportDelivery::NoConsole;
    const QDeadlineTimer deadline(answerWaitMs);
    KeptConnection &kept = t_kept;
    const ReportDelivery earlier = settle(kept, deadline);
    const ReportDelivery result = transmit(kept, windowTitle, record, wait, deadline);
    // A record only sent tells what the console did with the one before; a
    // console that left the earlier record unanswered is reported as such
    // even when it took this one.
    if (earlier == ReportDelivery::Unanswered && result != ReportDelivery::NoConsole)
        return ReportDelivery::Unanswered;
    if (result == ReportDelivery::Sent && earlier == ReportDelivery::Handled)
        return ReportDelivery::Handled;
    return result;
}
}  // namespace

ReportDelivery deliverReport(const QString &windowTitle, quint32 kind, const QByteArray &payload,
                             int answerWaitMs)
{
    return send(windowTitle, kind, payload, answerWaitMs, true);
}

ReportDelivery postReport(const QString &windowTitle, quint32 kind, const QByteArray &payload,
                          int answerWaitMs)
{
    return send(windowTitle, kind, payload, answerWaitMs, false);
}
