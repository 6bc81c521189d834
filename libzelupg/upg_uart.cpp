#include "libuart.h"
#include "upg_device.h"
#include "zelupg_log.h"

#include <cstdlib>

upg_device *upg_uart_dev_open(const char *port_name, libuart_state_cb cb)
{
    if (libzelupg_init() != 0)
        return nullptr;
    auto *dev = static_cast<upg_device *>(std::calloc(1, sizeof(upg_device)));
    if (!dev) {
        upg_err("Failed to malloc for upg_device");
        return nullptr;
    }
    dev->transport = UPG_TRANSPORT_SERIAL;
    dev->uart = libuart_open(port_name, cb);
    if (!dev->uart) {
        std::free(dev);
        return nullptr;
    }
    return dev;
}

upg_device *upg_uart_dev_connect(const char *port_name, int timeout_ms)
{
    upg_device *dev = upg_uart_dev_open(port_name, nullptr);
    if (dev && !libuart_wait_connected(dev->uart, timeout_ms)) {
        upg_err("No board answers on %s", port_name);
        upg_uart_dev_close(dev);
        return nullptr;
    }
    return dev;
}

void upg_uart_dev_close(upg_device *dev)
{
    if (!dev)
        return;
    libuart_close(dev->uart);
    std::free(dev);
}

int upg_uart_dev_is_connected(upg_device *dev)
{
    return dev && dev->uart ? libuart_state(dev->uart) : 0;
}
