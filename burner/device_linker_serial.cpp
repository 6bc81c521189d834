#include "device_linker_serial.h"

#include "libuart.h"

namespace {
// A listening board answers the first 'C' at once; a board that is still
// restarting gets the rest of the reconnect time from the caller's retries.
constexpr int kConnectMs = 2000;
}  // namespace

upg_device *DeviceLinkerSerial::openHandle()
{
    return upg_uart_dev_connect(m_name.toLocal8Bit().constData(), kConnectMs);
}
