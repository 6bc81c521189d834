#include "device_linker_usb.h"

#include "upg_device.h"

DeviceLinkerUSB::DeviceLinkerUSB(const QString &name) : DeviceLinker(name)
{
    m_positionValid = parseUsbPosition(name, &m_position);
}

upg_device *DeviceLinkerUSB::openHandle()
{
    // A name that is no position must not reach the library, which would
    // read a wrapped bus number as "any board".
    if (!m_positionValid)
        return nullptr;
    return upg_usb_dev_open(m_position.bus, m_position.ports);
}
