#include "device_linker_serial.h"

#include "libuart.h"
#include "upg_device.h"

namespace {
// A listening board answers the first 'C' at once; a board that is still
// restarting gets the rest of the reconnect time from the caller's retries.
constexpr int kConnectMs = 2000;
}  // namespace

DeviceLinkerSerial::DeviceLinkerSerial(const QString &name) : DeviceLinker(name) {}

DeviceLinkerSerial::~DeviceLinkerSerial()
{
    close();
}

bool DeviceLinkerSerial::isOpen() const
{
    return m_handle != nullptr;
}

bool DeviceLinkerSerial::open()
{
    if (isOpen())
        return true;
    m_handle = upg_uart_dev_connect(m_name.toLocal8Bit().constData(), kConnectMs);
    if (!m_handle)
        return false;
    if (probe())
        return true;
    close();
    return false;
}

bool DeviceLinkerSerial::close()
{
    if (!isOpen())
        return false;
    upg_dev_close(m_handle);
    m_handle = nullptr;
    return true;
}
