#include "device_link_for.h"

#include "device_linker_serial.h"
#include "device_linker_usb.h"
#include "upg_port_text.h"

bool isSerialPortName(const QString &name)
{
    return upg_port_is_serial(name.toLocal8Bit().constData()) != 0;
}

std::unique_ptr<DeviceLinker> deviceLinkFor(const QString &name)
{
    if (isSerialPortName(name))
        return std::make_unique<DeviceLinkerSerial>(name);
    return std::make_unique<DeviceLinkerUSB>(name);
}
