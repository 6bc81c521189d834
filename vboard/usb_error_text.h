// libusb_strerror's English texts, shared by the Linux and the Windows test library.
#pragma once

namespace vboard {
namespace detail {

const char *errorText(int code);

} // namespace detail
} // namespace vboard
