// Internal interface between the virtual bus and the devices on it.
#pragma once

#include "vboard_host.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

namespace vboard {
namespace detail {

// One device as the libusb layer sees it at one enumeration: plain data, so
// that the farm can send it over its socket as it is.
struct DevInfo {
    uint64_t instance;  // unique per enumeration; handles of an old one get NO_DEVICE
    int32_t id;         // DeviceId
    uint16_t vendor;
    uint16_t product;
    uint8_t bus;
    uint8_t address;
    uint8_t portCount;
    uint8_t ports[7];
    uint8_t deviceClass;
    uint8_t interfaceClass;
    uint8_t endpointCount;
    uint8_t pad;
    struct Ep {
        uint8_t address;
        uint8_t attributes;
        uint16_t maxPacket;
    } endpoints[16];
    int64_t configuredAtNs; // steady clock: not configured by the host before this
};

inline bool configuredNow(const DevInfo &d)
{
    return std::chrono::steady_clock::now().time_since_epoch() >=
           std::chrono::nanoseconds(d.configuredAtNs);
}

using Clock = std::chrono::steady_clock;

// What the bus does after a device has handled a transfer.
struct RestartPlan {
    bool returns = true;
    uint32_t delayMs = 0;
    UsbPosition position;
    int mode = 1;
};

struct TransferResult {
    int rc = 0;          // libusb code
    int transferred = 0;
    enum class Bus { None, Leave, Unplug } bus = Bus::None;
    RestartPlan restart; // with Bus::Leave
    uint32_t waitMs = 0; // block this long before answering (timeouts)
    Clock::time_point until{}; // link model: answer no earlier than this
    uint64_t busBytes = 0;     // link model: bytes to carry over the shared bus first
    uint8_t busNumber = 0;
    uint32_t busMbps = 0;
};

class Device {
public:
    virtual ~Device() = default;
    // One bulk transfer on endpoint `ep`: OUT transfers read `len` bytes
    // from `data`, IN transfers write at most `len` bytes into it.
    virtual TransferResult transfer(uint8_t ep, uint8_t *data, int len, unsigned timeoutMs) = 0;
    // Called by the bus each time the device appears on it (`mode` is the
    // board mode it comes up in, -1 for a plain plug keeping the mode).
    virtual void enumerated(int mode) { (void)mode; }
    virtual void left() {}
    // Called by the bus as it hands the answer of a transfer whose link time
    // ended at `until` back to the host, at `at`.
    virtual void answered(Clock::time_point until, Clock::time_point at)
    {
        (void)until;
        (void)at;
    }
};

// Transfer-level trace sink shared by all boards (file named by
// setTraceFile or ZEL_VBOARD_TRACE).
bool traceFileOn();
void traceFileLine(const std::string &line);

inline uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t le64(const uint8_t *p) { return uint64_t(le32(p)) | uint64_t(le32(p + 4)) << 32; }
inline void put32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

} // namespace detail
} // namespace vboard
