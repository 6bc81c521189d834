// One connection to the board farm from a Windows program under wine: the
// farm's protocol over TCP on the loopback address (its --tcp listener).
#pragma once

#include "farm_proto.h"

#include <winsock2.h>

#include <string>

namespace vboard {
namespace detail {

class FarmLink {
public:
    FarmLink() = default;
    ~FarmLink() { close(); }
    FarmLink(const FarmLink &) = delete;
    FarmLink &operator=(const FarmLink &) = delete;

    // address: "tcp:127.0.0.1:PORT", as in ZEL_VBOARD_FARM.
    bool connect(const std::string &address, std::string *error);
    void close();
    bool connected() const { return m_socket != INVALID_SOCKET; }

    bool send(const farm::Header &h, const void *payload);
    bool readFull(void *buf, size_t n);
    // One request and its answer; the answer's payload (at most inMax bytes)
    // goes to `in`. False, with the link closed, when the farm is gone.
    bool call(const farm::Header &req, const void *payload, farm::Header *reply, void *in,
              uint32_t inMax);

private:
    SOCKET m_socket = INVALID_SOCKET;
};

} // namespace detail
} // namespace vboard
