// POSIX delivery of worker reports: one connection per report to the
// console's socket, one record (kind, length, payload; little-endian), then
// a one-byte acknowledgement once the console has handled it.

#include "report_channel.h"
#include "report_endpoint_posix.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
void putLe32(unsigned char *out, quint32 v)
{
    out[0] = v & 0xff;
    out[1] = (v >> 8) & 0xff;
    out[2] = (v >> 16) & 0xff;
    out[3] = (v >> 24) & 0xff;
}

bool sendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

void deliverReport(const QString &windowTitle, quint32 kind, const QByteArray &payload)
{
    const QByteArray path = reportSocketPath(windowTitle);
    if (path.isEmpty() || static_cast<quint32>(payload.size()) > kMaxReportPayload)
        return;
    sockaddr_un addr{};
    if (static_cast<size_t>(path.size()) >= sizeof(addr.sun_path))
        return;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0) {
        QByteArray record(8, '\0');
        putLe32(reinterpret_cast<unsigned char *>(record.data()), kind);
        putLe32(reinterpret_cast<unsigned char *>(record.data()) + 4,
                static_cast<quint32>(payload.size()));
        record += payload;
        if (sendAll(fd, record.constData(), static_cast<size_t>(record.size()))) {
            char ack = 0;
            // Blocks until the console has handled the report.
            while (::recv(fd, &ack, 1, 0) < 0 && errno == EINTR) {
            }
        }
    }
    ::close(fd);
}
