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

upg_device *DeviceLinkerUSB::openHandle()
{
    return upg_usb_dev_open(static_cast<uint8_t>(m_bus), m_portPath);
}
