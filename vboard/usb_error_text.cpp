#include "usb_error_text.h"

#include <libusb.h>

namespace vboard {
namespace detail {

namespace {
const char *const kErrorTexts[] = {
    "Success",
    "Input/Output Error",
    "Invalid parameter",
    "Access denied (insufficient permissions)",
    "No such device (it may have been disconnected)",
    "Entity not found",
    "Resource busy",
    "Operation timed out",
    "Overflow",
    "Pipe error",
    "System call interrupted (perhaps due to signal)",
    "Insufficient memory",
    "Operation not supported or unimplemented on this platform",
    "Other error",
};
} // namespace

const char *errorText(int code)
{
    if (code > 0 || code < LIBUSB_ERROR_OTHER)
        return "**UNKNOWN**";
    if (code == LIBUSB_ERROR_OTHER)
        return kErrorTexts[13];
    if (code < LIBUSB_ERROR_NOT_SUPPORTED)
        return "**UNKNOWN**";
    return kErrorTexts[-code];
}

} // namespace detail
} // namespace vboard
