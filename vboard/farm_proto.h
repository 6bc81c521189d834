// Messages between the test library and the board farm over the farm's
// Unix stream socket (or its loopback TCP listener, for Windows programs). Every message is a 24-byte header and `len` payload
// bytes. A connection is one of:
//  - a list connection (List requests),
//  - a handle connection: Open, then Claim/Release/BulkOut/BulkIn; closing
//    it closes the handle and releases its claims,
//  - an event connection: Subscribe, then the farm pushes Event messages,
//  - a control connection: one Control line and its answer.
// Both ends run on the same machine: the header is in host byte order.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace vboard {
namespace detail {
namespace farm {

enum Type : uint32_t {
    kList = 1,   // -> Reply a=rc, c=farm's steady clock in ns, payload DevInfo[]
    kOpen,       // c=instance, b=pid, payload=owner name -> Reply a=rc
    kClaim,      // a=interface -> Reply a=rc
    kRelease,    // a=interface -> Reply a=rc
    kBulkOut,    // a=endpoint, c=timeout ms, payload=data -> Reply a=rc, b=transferred
    kBulkIn,     // a=endpoint, b=length, c=timeout ms -> Reply a=rc, b=transferred, payload=data
    kSubscribe,  // -> Event messages: a=1 arrived / 0 left, payload DevInfo
    kControl,    // payload=line -> Reply a=1 ok / 0 error, payload=answer text
    kReply,
    kEvent,
};

struct Header {
    uint32_t type;
    uint32_t len;
    int32_t a;
    int32_t b;
    uint64_t c;
};
static_assert(sizeof(Header) == 24, "farm header layout");

constexpr uint32_t kMaxPayload = 16u << 20;

// Blocking helpers: false when the peer is gone or the call failed.
bool readFull(int fd, void *buf, size_t n);
bool writeMsg(int fd, const Header &h, const void *payload);
// Connects to the farm's socket; -1 (errno set) when nobody listens.
int connectTo(const std::string &path);

} // namespace farm
} // namespace detail
} // namespace vboard
