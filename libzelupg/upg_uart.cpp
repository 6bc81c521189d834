#include "libuart.h"
#include "upg_device.h"
#include "zelupg_log.h"

#include <cstdlib>

upg_device *upg_uart_dev_open(const char *port_name, libuart_state_cb cb)
{
    upg_device *dev = upg_dev_alloc(UPG_TRANSPORT_SERIAL, __func__);
    if (!dev)
        return nullptr;
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
