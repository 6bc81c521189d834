#include "farm_link_win.h"

#include <ws2tcpip.h>

#include <cstdlib>
#include <mutex>

namespace vboard {
namespace detail {

bool FarmLink::connect(const std::string &address, std::string *error)
{
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
    close();
    const std::string prefix = "tcp:";
    const size_t colon = address.rfind(':');
    if (address.compare(0, prefix.size(), prefix) != 0 || colon <= prefix.size()) {
        *error = "not a farm address (tcp:HOST:PORT): " + address;
        return false;
    }
    const std::string host = address.substr(prefix.size(), colon - prefix.size());
    const int port = atoi(address.c_str() + colon + 1);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(u_short(port));
    if (port <= 0 || port > 65535 || inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) {
        *error = "not a farm address (tcp:HOST:PORT): " + address;
        return false;
    }
    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_socket == INVALID_SOCKET ||
        ::connect(m_socket, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        *error = "no board farm answers at " + address;
        close();
        return false;
    }
    // Every request waits for its answer: no small-packet delay.
    const BOOL on = TRUE;
    setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
    return true;
}

void FarmLink::close()
{
    if (m_socket != INVALID_SOCKET)
        closesocket(m_socket);
    m_socket = INVALID_SOCKET;
}

bool FarmLink::send(const farm::Header &h, const void *payload)
{
    WSABUF bufs[2];
    bufs[0].buf = reinterpret_cast<char *>(const_cast<farm::Header *>(&h));
    bufs[0].len = sizeof h;
    bufs[1].buf = static_cast<char *>(const_cast<void *>(payload));
    bufs[1].len = payload ? h.len : 0;
    DWORD count = payload && h.len ? 2 : 1;
    WSABUF *next = bufs;
    while (count) {
        DWORD sent = 0;
        if (WSASend(m_socket, next, count, &sent, 0, nullptr, nullptr) != 0 || sent == 0)
            return false;
        while (count && sent >= next->len) {
            sent -= next->len;
            next++;
            count--;
        }
        if (count) {
            next->buf += sent;
            next->len -= sent;
        }
    }
    return true;
}

bool FarmLink::readFull(void *buf, size_t n)
{
    char *p = static_cast<char *>(buf);
    while (n) {
        const int r = recv(m_socket, p, int(n > 1u << 20 ? 1u << 20 : n), 0);
        if (r <= 0)
            return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

bool FarmLink::call(const farm::Header &req, const void *payload, farm::Header *reply, void *in,
                    uint32_t inMax)
{
    if (connected() && send(req, payload) && readFull(reply, sizeof *reply) &&
        reply->type == farm::kReply && reply->len <= inMax && (!reply->len || in) &&
        readFull(in, reply->len))
        return true;
    close();
    return false;
}

} // namespace detail
} // namespace vboard
