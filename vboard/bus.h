// Internal interface of the virtual bus, used by the libusb layer (in
// process) and by the farm server (for its clients).
#pragma once

#include "device.h"

#include <functional>
#include <vector>

namespace vboard {
namespace detail {

struct BusEvent {
    bool arrived;
    DevInfo info;
};
using Listener = std::function<void(const BusEvent &)>;

// Listeners are called in event order with the bus locked: they must only
// queue the event and must not call back into the bus.
int addListener(Listener listener);
void removeListener(int id);

std::vector<DevInfo> listPresent();
// Present now, at this enumeration?
bool lookup(uint64_t instance, DevInfo *out);
// What libusb_open answers for this enumeration: 0, NO_DEVICE or ACCESS.
int openResult(uint64_t instance);

// `owner` identifies one open handle (in-process) or connection (farm);
// `ownerName` is shown by the state listing.
int claim(uint64_t instance, int interface, const void *owner, const std::string &ownerName);
int release(uint64_t instance, int interface, const void *owner);
void releaseAll(const void *owner);

// One bulk transfer; returns a libusb code and sets *transferred.
int bulk(uint64_t instance, const void *owner, uint8_t ep, uint8_t *data, int len,
         int *transferred, unsigned timeoutMs);

} // namespace detail
} // namespace vboard
