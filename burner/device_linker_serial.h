#pragma once
// Links for boards on a serial port or the network. Neither transport is
// offered to the worker yet: such a link never opens and every transfer fails.

#include "device_linker.h"

class DeviceLinkerSerial : public DeviceLinker
{
public:
    using DeviceLinker::DeviceLinker;
};

class DeviceLinkerNetwork : public DeviceLinker
{
public:
    using DeviceLinker::DeviceLinker;
};
