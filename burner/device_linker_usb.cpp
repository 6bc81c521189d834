#include "device_linker_usb.h"

#include "upg_device.h"

#include <QStringList>

DeviceLinkerUSB::DeviceLinkerUSB(const QString &name) : DeviceLinker(name)
{
    const QStringList parts = name.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    m_bus = static_cast<quint32>(parts.at(0).toInt());
    for (int i = 1; i < parts.size() && i <= UPG_PORT_PATH_LEN; ++i)
        m_portPath[i - 1] = static_cast<quint8>(parts.at(i).toInt() & 0xff);
}

DeviceLinkerUSB::~DeviceLinkerUSB()
{
    close();
}

bool DeviceLinkerUSB::isOpen() const
{
    return m_handle != nullptr;
}

bool DeviceLinkerUSB::open()
{
    if (isOpen())
        return true;
    m_handle = upg_usb_dev_open(static_cast<uint8_t>(m_bus), m_portPath);
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
