#include "libuart.h"
#include "upg_device.h"
#include "upg_tools.h"
#include "zelupg_log.h"

#include <libusb.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

constexpr uint32_t kIds = uint32_t(UPG_USB_PID) << 16 | UPG_USB_VID;

bool g_report_open_errors = false;
int g_denied_count = 0;
bool g_verbose_scan = false;
upg_usb_dev_entry g_table[UPG_DEV_TABLE_SIZE];

// True for a board whose descriptor and 7-byte port path could be read.
bool read_board(libusb_device *d, libusb_device_descriptor *desc, uint8_t *path)
{
    if (libusb_get_device_descriptor(d, desc) != 0 || desc->idVendor != UPG_USB_VID ||
        desc->idProduct != UPG_USB_PID)
        return false;
    return upg_usb_get_port_numbers(d, path, UPG_PORT_PATH_LEN) >= 0;
}

// Kernel drivers bound to the interface are detached by libusb where the
// platform supports it, so they cannot make the claim fail.
int claim_interface(libusb_device_handle *handle)
{
    libusb_set_auto_detach_kernel_driver(handle, 1);
    int rc = libusb_claim_interface(handle, 0);
    if (rc != 0)
        upg_err_as("__claim_interface", "libusb_claim_interface() failed");
    return rc;
}

// Takes the bulk endpoints of the active configuration; a later bulk endpoint
// of the same direction replaces an earlier one.
int find_endpoints(upg_device *dev)
{
    libusb_config_descriptor *config = nullptr;
    int rc = libusb_get_active_config_descriptor(libusb_get_device(dev->usb), &config);
    if (rc < 0)
        return rc;
    for (int i = 0; i < config->bNumInterfaces; i++) {
        const libusb_interface &intf = config->interface[i];
        for (int a = 0; a < intf.num_altsetting; a++) {
            const libusb_interface_descriptor &alt = intf.altsetting[a];
            for (int e = 0; e < alt.bNumEndpoints; e++) {
                const libusb_endpoint_descriptor &ep = alt.endpoint[e];
                if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                    continue;
                if (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN)
                    dev->ep_in = ep.bEndpointAddress;
                else
                    dev->ep_out = ep.bEndpointAddress;
            }
        }
    }
    libusb_free_config_descriptor(config);
    return 0;
}

// A board halts an endpoint when it refuses a command, and on a real bus the
// halt lasts until the host clears it: without this, every later session
// with the board fails at its first packet until the board is plugged again.
void clear_halts(const upg_device *dev)
{
    for (const uint8_t ep : {dev->ep_out, dev->ep_in}) {
        const int rc = ep ? libusb_clear_halt(dev->usb, ep) : 0;
        if (rc != 0)
            upg_err("libusb_clear_halt(0x%02x) failed rc = %d, %s", ep, rc, libusb_strerror(rc));
    }
}

// Opens the first board with the board ids. Null when none opens.
libusb_device_handle *open_any(void)
{
    libusb_device_handle *handle =
        libusb_open_device_with_vid_pid(zelupg_usb_context(), UPG_USB_VID, UPG_USB_PID);
    if (!handle && g_report_open_errors) {
        if (errno == EACCES)
            upg_err_as("upg_usb_dev_open", "No permission to access UU device");
        else
            upg_err_as("upg_usb_dev_open", "USB device not found!");
    }
    return handle;
}

void log_access_denied(const upg_device *dev)
{
    char port[4 * (UPG_PORT_PATH_LEN + 1)];
    int len = std::snprintf(port, sizeof port, "%u", unsigned(dev->bus));
    for (int i = 0; i < UPG_PORT_PATH_LEN && dev->port_path[i]; i++)
        len += std::snprintf(port + len, sizeof port - size_t(len), ":%u",
                             unsigned(dev->port_path[i]));
    upg_err_as("upg_usb_dev_open", "Board %s: " UPG_USB_ACCESS_HINT, port);
    g_denied_count++;
}

// Opens the board at the record's bus and port path, storing its address and
// class byte. Null when it is not listed or cannot be opened.
libusb_device_handle *open_at(upg_device *dev)
{
    libusb_device **list = nullptr;
    if (libusb_get_device_list(zelupg_usb_context(), &list) < 0) {
        upg_err_as("upg_usb_dev_open", "libusb_get_device_list() failed");
        return nullptr;
    }
    libusb_device_handle *handle = nullptr;
    bool found = false;
    for (libusb_device **it = list; *it && !found; it++) {
        libusb_device_descriptor desc;
        uint8_t path[UPG_PORT_PATH_LEN];
        if (!read_board(*it, &desc, path))
            continue;
        if (libusb_get_bus_number(*it) != dev->bus ||
            std::memcmp(path, dev->port_path, UPG_PORT_PATH_LEN) != 0)
            continue;
        found = true;
        dev->dev_addr = libusb_get_device_address(*it);
        int rc = libusb_open(*it, &handle);
        if (rc != 0) {
            handle = nullptr;
            // Missing access is the one open failure an operator can mend, so
            // it is always said, whatever the diagnostic switch.
            if (rc == LIBUSB_ERROR_ACCESS)
                log_access_denied(dev);
            else if (g_report_open_errors)
                upg_err_as("upg_usb_dev_open", "libusb_open() failed rc = %d, %s", rc,
                           libusb_strerror(rc));
        } else {
            dev->dev_class = desc.bDeviceClass;
        }
    }
    libusb_free_device_list(list, 1);
    if (!found && g_report_open_errors) {
        char text[64];
        upg_err_as("upg_usb_dev_open", "%s not found in device list",
                   upg_format_port_path(text, sizeof(text), dev->bus, dev->port_path,
                                        UPG_PORT_PATH_LEN));
    }
    return handle;
}

// Fills the cleared table with the listed boards, with openEach only those
// that open (each closed again at once), and hands it out. Returns their
// count, or -1 when the system list cannot be read (logged under func).
int fill_table(const char *func, bool openEach, upg_usb_dev_entry **table)
{
    if (libzelupg_init() != 0)
        return -1;
    libusb_device **list = nullptr;
    if (libusb_get_device_list(zelupg_usb_context(), &list) < 0) {
        upg_err_as(func, "Get usb list failed");
        return -1;
    }
    std::memset(g_table, 0, sizeof(g_table));
    int count = 0;
    // The whole system list is examined: hubs, keyboards and other devices
    // may come first, and a board listed late must still be seen.
    for (libusb_device **it = list; *it && count < UPG_DEV_TABLE_SIZE; it++) {
        libusb_device_descriptor desc;
        uint8_t path[UPG_PORT_PATH_LEN];
        if (!read_board(*it, &desc, path))
            continue;
        upg_usb_dev_entry entry = {};
        entry.bus = libusb_get_bus_number(*it);
        std::memcpy(entry.port_path, path, UPG_PORT_PATH_LEN);
        entry.dev_addr = libusb_get_device_address(*it);
        entry.dev_class = desc.bDeviceClass;
        if (openEach) {
            upg_device *dev = upg_usb_dev_open(entry.bus, path);
            if (!dev) {
                upg_err_as(func, "Error, open USB device failed");
                continue;
            }
            entry.dev_addr = dev->dev_addr;
            entry.dev_class = dev->dev_class;
            upg_dev_close(dev);
        }
        g_table[count++] = entry;
    }
    libusb_free_device_list(list, 1);
    if (table)
        *table = g_table;
    return count;
}

}  // namespace

void upg_set_report_open_errors(int on)
{
    g_report_open_errors = on != 0;
}

void upg_set_verbose_scan(int on)
{
    g_verbose_scan = on != 0;
}

int upg_verbose_scan(void)
{
    return g_verbose_scan;
}

int upg_usb_get_port_numbers(libusb_device *dev, uint8_t *buf, int len)
{
    int n = libusb_get_port_numbers(dev, buf, len);
    if (n < 0 || n > len) {
        upg_err("%s() Invalid port number %d", __func__, n);
        return -1;
    }
    std::memset(buf + n, 0, size_t(len - n));
    return n;
}

upg_device *upg_usb_dev_open(uint8_t bus, const uint8_t *port_path)
{
    upg_device *dev = upg_dev_alloc(UPG_TRANSPORT_USB, __func__);
    if (!dev)
        return nullptr;
    dev->bus = bus;
    if (port_path)
        std::memcpy(dev->port_path, port_path, UPG_PORT_PATH_LEN);

    dev->usb = bus == UPG_BUS_ANY ? open_any() : open_at(dev);
    if (!dev->usb) {
        std::free(dev);
        return nullptr;
    }
    dev->ids = kIds;

    if (claim_interface(dev->usb) < 0) {
        upg_err("FAILED to claim interface.");
        libusb_close(dev->usb);
        std::free(dev);
        return nullptr;
    }
    if (find_endpoints(dev) < 0) {
        upg_err("FAILED to get UU device endpoint addresses!");
        upg_dev_close(dev);
        return nullptr;
    }
    clear_halts(dev);
    return dev;
}

int upg_usb_dev_get_list(upg_usb_dev_entry **table)
{
    g_denied_count = 0;
    const int count = fill_table(__func__, true, table);
    return count > 0 ? count : -1;
}

int upg_usb_dev_scan(upg_usb_dev_entry **table)
{
    return fill_table(__func__, false, table);
}

int upg_usb_dev_check(uint8_t bus, const uint8_t *port_path)
{
    if (!port_path || libzelupg_init() != 0)
        return UPG_USB_UNUSABLE;
    libusb_device **list = nullptr;
    if (libusb_get_device_list(zelupg_usb_context(), &list) < 0)
        return UPG_USB_UNUSABLE;
    int result = UPG_USB_GONE;
    for (libusb_device **it = list; *it; it++) {
        libusb_device_descriptor desc;
        uint8_t path[UPG_PORT_PATH_LEN];
        if (!read_board(*it, &desc, path) || libusb_get_bus_number(*it) != bus ||
            std::memcmp(path, port_path, UPG_PORT_PATH_LEN) != 0)
            continue;
        libusb_device_handle *handle = nullptr;
        int rc = libusb_open(*it, &handle);
        if (rc == 0) {
            libusb_set_auto_detach_kernel_driver(handle, 1);
            rc = libusb_claim_interface(handle, 0);
            if (rc == 0)
                libusb_release_interface(handle, 0);
            libusb_close(handle);
        }
        result = rc == 0                      ? UPG_USB_USABLE
                 : rc == LIBUSB_ERROR_ACCESS  ? UPG_USB_NO_PERMISSION
                 : rc == LIBUSB_ERROR_BUSY    ? UPG_USB_IN_USE
                 : rc == LIBUSB_ERROR_NO_DEVICE ? UPG_USB_GONE
                                              : UPG_USB_UNUSABLE;
        break;
    }
    libusb_free_device_list(list, 1);
    return result;
}

int upg_usb_dev_survey(upg_usb_board *out, int max)
{
    if (libzelupg_init() != 0)
        return -1;
    libusb_device **list = nullptr;
    if (libusb_get_device_list(zelupg_usb_context(), &list) < 0)
        return -1;
    int count = 0;
    for (libusb_device **it = list; *it && count < max; it++) {
        libusb_device_descriptor desc;
        uint8_t path[UPG_PORT_PATH_LEN];
        if (!read_board(*it, &desc, path))
            continue;
        upg_usb_board &b = out[count++];
        b.bus = libusb_get_bus_number(*it);
        std::memcpy(b.port_path, path, UPG_PORT_PATH_LEN);
        b.dev_addr = libusb_get_device_address(*it);
        libusb_device_handle *handle = nullptr;
        b.open_result = libusb_open(*it, &handle);
        if (b.open_result == 0) {
            libusb_set_auto_detach_kernel_driver(handle, 1);
            b.open_result = libusb_claim_interface(handle, 0);
            if (b.open_result == 0)
                libusb_release_interface(handle, 0);
            libusb_close(handle);
        }
    }
    libusb_free_device_list(list, 1);
    return count;
}

int upg_usb_dev_denied_count(void)
{
    return g_denied_count;
}

upg_device *upg_dev_alloc(uint32_t transport, const char *func)
{
    if (libzelupg_init() != 0)
        return nullptr;
    auto *dev = static_cast<upg_device *>(std::calloc(1, sizeof(upg_device)));
    if (!dev) {
        upg_err_as(func, "Failed to malloc for upg_device");
        return nullptr;
    }
    dev->transport = transport;
    return dev;
}

int upg_dev_get_port(const upg_device *dev, uint8_t *bus, uint8_t *port_path)
{
    if (!dev || !bus || !port_path)
        return -1;
    *bus = dev->bus;
    std::memcpy(port_path, dev->port_path, UPG_PORT_PATH_LEN);
    return 0;
}

int upg_dev_last_error(const upg_device *dev)
{
    return dev ? dev->last_error : 0;
}

void upg_dev_close(upg_device *dev)
{
    if (!dev)
        return;
    if (dev->transport == UPG_TRANSPORT_SERIAL) {
        upg_uart_dev_close(dev);
        return;
    }
    if (dev->usb) {
        libusb_release_interface(dev->usb, 0);
        libusb_close(dev->usb);
    }
    std::free(dev);
}
