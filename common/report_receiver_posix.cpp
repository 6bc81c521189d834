#include "report_receiver.h"
#include "report_endpoint_posix.h"
#include "report_record.h"

#include <QDebug>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {
// A worker writes its first record right after connecting, and every record
// at once; a connection that has not delivered its first record, or the rest
// of a record begun, by then is given up. Between records a worker's
// connection may stay idle for as long as its burn lasts. Other connections
// are read in the meantime, so this only bounds what a stalled peer can hold.
constexpr int kRecordDeadlineMs = 2000;
// Connections read at once (a console runs at most 16 workers, each keeping
// one connection); further ones wait in the listen queue until one ends.
constexpr size_t kMaxConnections = 64;
constexpr int kListenQueue = 64;

sockaddr_un addressOf(const QByteArray &path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    return addr;
}

// The lock beside the socket file, taken without waiting; -1 when another
// receiver holds it. The kernel drops it when its holder ends, however it
// ends, so a socket file found while holding it is a dead receiver's.
int lockTitle(const QByteArray &socketPath, bool *heldElsewhere)
{
    const QByteArray path = socketPath + ".lock";
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    *heldElsewhere = false;
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *heldElsewhere = errno == EWOULDBLOCK;
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

qint64 peerPid(int fd)
{
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return 0;
    return peer.pid;
}

QString socketError(const char *what, const QByteArray &path)
{
    return QStringLiteral("cannot %1 the report socket \"%2\": %3")
        .arg(QLatin1String(what), QString::fromLocal8Bit(path),
             QString::fromLocal8Bit(std::strerror(errno)));
}
}  // namespace

struct ReportReceiver::Connection {
    quint64 id = 0;
    int fd = -1;
    qint64 senderPid = 0;
    bool handed = false;    // its record is with the handler
    bool answered = false;  // a record of it has been handled: it may wait idle
    QSocketNotifier *notifier = nullptr;
    QTimer *deadline = nullptr;
    ReportRecordReader record;
};

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
    const auto refuse = [this](const QString &reason) {
        m_error = reason;
        qWarning().noquote() << "Cannot receive worker reports:" << reason;
        return false;
    };
    QString error;
    m_path = reportSocketPath(m_title, &error);
    if (m_path.isEmpty())
        return refuse(error);
    const sockaddr_un addr = addressOf(m_path);
    bool heldElsewhere = false;
    const int lockFd = lockTitle(m_path, &heldElsewhere);
    if (heldElsewhere)
        return refuse(QStringLiteral("another console or listener receives the reports at \"%1\"")
                          .arg(QString::fromLocal8Bit(m_path)));
    if (lockFd < 0)
        return refuse(socketError("lock", m_path + ".lock"));
    // A socket file left by a receiver that was killed.
    ::unlink(m_path.constData());

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof(addr)) != 0
        || ::listen(fd, kListenQueue) != 0) {
        const QString reason = socketError("create, bind or listen on", m_path);
        if (fd >= 0)
            ::close(fd);
        ::close(lockFd);
        return refuse(reason);
    }
    m_error.clear();
    m_fd = fd;
    m_lockFd = lockFd;
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
    while (!m_connections.empty())
        drop(m_connections.begin()->second.get());
    ::close(m_fd);
    m_fd = -1;
    // Unlinked while still locked: a receiver that starts now finds no file of ours.
    ::unlink(m_path.constData());
    ::close(m_lockFd);
    m_lockFd = -1;
}

void ReportReceiver::readPending()
{
    // First what came on connections accepted earlier (ids are in accept
    // order), then the connections still waiting to be accepted.
    std::vector<quint64> ids;
    for (const auto &entry : m_connections)
        ids.push_back(entry.first);
    for (const quint64 id : ids) {
        const auto it = m_connections.find(id);
        if (it != m_connections.end() && !it->second->handed)
            readFrom(it->second.get());
    }
    acceptPending();
}

void ReportReceiver::acceptPending()
{
    while (isListening() && m_connections.size() < kMaxConnections) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            break;
        }
        auto owned = std::make_unique<Connection>();
        Connection *connection = owned.get();
        const quint64 id = ++m_lastConnectionId;
        connection->id = id;
        connection->fd = fd;
        connection->senderPid = peerPid(fd);
        connection->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connection->deadline = new QTimer(this);
        connection->deadline->setSingleShot(true);
        m_connections.emplace(id, std::move(owned));
        // Looked up by id: a signal that comes after the connection ended does nothing.
        connect(connection->notifier, &QSocketNotifier::activated, this, [this, id] {
            const auto it = m_connections.find(id);
            if (it == m_connections.end())
                return;
            // Woken while its record is still with the handler (which runs an
            // event loop): quiet until the record is answered.
            if (it->second->handed)
                it->second->notifier->setEnabled(false);
            else
                readFrom(it->second.get());
        });
        connect(connection->deadline, &QTimer::timeout, this, [this, id] {
            // What arrived while this thread was busy elsewhere still counts.
            const auto it = m_connections.find(id);
            if (it != m_connections.end() && !it->second->handed && readFrom(it->second.get()))
                drop(it->second.get());
        });
        connection->deadline->start(kRecordDeadlineMs);
        // A sender that connects anew (its console stood still and it gave
        // up waiting) may have left records on its older connection: they
        // come first.
        readEarlierFrom(connection->senderPid, id);
        // A worker's record is usually there already.
        const auto it = m_connections.find(id);
        if (it != m_connections.end())
            readFrom(connection);
    }
    if (m_notifier)
        m_notifier->setEnabled(m_connections.size() < kMaxConnections);
}

void ReportReceiver::readEarlierFrom(qint64 senderPid, quint64 beforeId)
{
    std::vector<quint64> ids;
    for (const auto &entry : m_connections)
        if (entry.first < beforeId && entry.second->senderPid == senderPid)
            ids.push_back(entry.first);
    for (const quint64 id : ids) {
        const auto it = m_connections.find(id);
        if (it != m_connections.end() && !it->second->handed)
            readFrom(it->second.get());
    }
}

bool ReportReceiver::readFrom(Connection *connection)
{
    // As much as has come, records past the first included: a worker's record
    // usually comes whole, in one read, and one wake-up per report is what
    // the console pays for it.
    char buffer[512];
    for (;;) {
        const ssize_t n = ::recv(connection->fd, buffer, sizeof(buffer), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return owesRecord(connection);
        if (n <= 0) {
            drop(connection);  // the sender is done, or gone before its record was whole
            return false;
        }
        for (int used = 0; used < n;) {
            used += connection->record.append(buffer + used, static_cast<int>(n) - used);
            if (connection->record.state() == ReportRecordReader::Invalid) {
                drop(connection);
                return false;
            }
            if (connection->record.state() == ReportRecordReader::Complete && !handOn(connection))
                return false;
        }
        // A short read took all the sender had sent.
        if (static_cast<size_t>(n) < sizeof(buffer))
            return owesRecord(connection);
    }
}

bool ReportReceiver::owesRecord(Connection *connection)
{
    // The rest comes later; a record begun must come whole in time.
    if (connection->record.started() && !connection->deadline->isActive())
        connection->deadline->start(kRecordDeadlineMs);
    return connection->record.started() || !connection->answered;
}

bool ReportReceiver::handOn(Connection *connection)
{
    const quint64 id = connection->id;
    connection->deadline->stop();
    connection->handed = true;
    const ReportRecordReader record = std::move(connection->record);
    connection->record = ReportRecordReader();
    emit reportReceived(record.kind(), record.payload(), connection->senderPid);
    // The handler may have stopped the receiver, and the connection with it.
    if (m_connections.find(id) == m_connections.end())
        return false;
    // Only now may the worker go on: the report has been handled. The
    // worker may keep the connection for its next report.
    const char ack = 1;
    ::send(connection->fd, &ack, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    connection->handed = false;
    connection->answered = true;
    if (!connection->notifier->isEnabled())
        connection->notifier->setEnabled(true);
    return true;
}

void ReportReceiver::drop(Connection *connection)
{
    connection->notifier->setEnabled(false);
    connection->notifier->deleteLater();
    connection->deadline->stop();
    connection->deadline->deleteLater();
    ::close(connection->fd);
    m_connections.erase(connection->id);
    // Room for a connection waiting in the listen queue.
    if (m_notifier)
        m_notifier->setEnabled(true);
}
