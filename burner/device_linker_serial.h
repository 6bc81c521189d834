#pragma once
// A board on a serial port, known by the port's name (a device path such as
// /dev/ttyUSB0); and a link for boards on the network, which is not offered
// yet: such a link never opens and every transfer fails.

#include "device_linker.h"

class DeviceLinkerSerial : public DeviceLinker
{
public:
    // Keeps the port name; does not touch the port.
    using DeviceLinker::DeviceLinker;

protected:
    // Opens the port and waits for the board to answer the connection
    // handshake.
    upg_device *openHandle() override;
};

class DeviceLinkerNetwork : public DeviceLinker
{
public:
    using DeviceLinker::DeviceLinker;
};
