#include "device_linker_usb.h"

#include "upg_device.h"
#include "zelupg_cmd.h"

DeviceLinkerUSB::DeviceLinkerUSB(const QString &name) : DeviceLinker(name)
{
    m_positionValid = parseUsbPosition(name, &m_position);
}

DeviceLinkerUSB::~DeviceLinkerUSB()
{
    close();
}

bool DeviceLinkerUSB::isOpen() const
{
    return m_handle != nullptr;
}

bool DeviceLinkerUSB::probe()
{
    if (!isOpen())
        return false;
    int mode = 0;
    const int rc = zelupg_get_device_status(m_handle, &mode);
    m_upgradeMode = rc == 0 ? static_cast<quint8>(mode) : 0;
    return rc == 0;
}

bool DeviceLinkerUSB::inUpgradeMode() const
{
    return isOpen() && m_upgradeMode != 0;
}

bool DeviceLinkerUSB::open()
{
    if (isOpen())
        return true;
    // A name that is no position must not reach the library, which would
    // read a wrapped bus number as "any board".
    if (!m_positionValid)
        return false;
    m_handle = upg_usb_dev_open(m_position.bus, m_position.ports);
    if (!m_handle)
        return false;
    if (probe())
        return true;
    close();
    return false;
}

bool DeviceLinkerUSB::close()
{
    if (!isOpen())
        return false;
    upg_dev_close(m_handle);
    m_handle = nullptr;
    return true;
}
