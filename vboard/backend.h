// Where a libusb context finds its devices: the in-process bus, or the
// board farm over its Unix socket.
#pragma once

#include "bus.h"

#include <memory>
#include <string>
#include <vector>

namespace vboard {
namespace detail {

// One open device handle.
class Channel {
public:
    virtual ~Channel() = default;
    virtual int claim(int interface) = 0;
    virtual int release(int interface) = 0;
    virtual int bulk(uint8_t ep, uint8_t *data, int len, int *transferred, unsigned timeoutMs) = 0;
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual int list(std::vector<DevInfo> *out) = 0;
    virtual int open(const DevInfo &dev, std::unique_ptr<Channel> *out) = 0;
    // Readable while hotplug events are queued; drainEvents empties it.
    virtual int eventFd() = 0;
    virtual void drainEvents(std::vector<BusEvent> *out) = 0;
};

std::unique_ptr<Backend> makeLocalBackend();
// nullptr (with a message on stderr) when the farm cannot be reached.
std::unique_ptr<Backend> makeFarmBackend(const std::string &socketPath);

} // namespace detail
} // namespace vboard
