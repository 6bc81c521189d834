// The descriptors a virtual device shows, built from its plain record; shared
// by the Linux and the Windows test library.
#pragma once

#include "device.h"

#include <libusb.h>

namespace vboard {
namespace detail {

void fillDeviceDescriptor(const DevInfo &d, libusb_device_descriptor *desc);
// One allocation holding the configuration, its interface and endpoints;
// nullptr when out of memory. freeConfigDescriptor releases it.
libusb_config_descriptor *newConfigDescriptor(const DevInfo &d);
void freeConfigDescriptor(libusb_config_descriptor *config);

} // namespace detail
} // namespace vboard
