#pragma once
// The link for a board named on the worker's command line (-d): a serial
// port (a device path such as /dev/ttyUSB0, or COMn) or a USB position.

#include <QString>

#include <memory>

class DeviceLinker;

// Whether the name is a serial port rather than a USB position.
bool isSerialPortName(const QString &name);

// A serial link for a serial port name, a USB link for anything else (which
// never opens unless the name is a USB position).
std::unique_ptr<DeviceLinker> deviceLinkFor(const QString &name);
