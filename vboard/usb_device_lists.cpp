// The libusb calls that need nothing but other libusb calls, shared by the
// Linux and the Windows test library.
#include <libusb.h>

#include <cstdlib>

extern "C" {

void LIBUSB_CALL libusb_free_device_list(libusb_device **list, int unref_devices)
{
    if (!list)
        return;
    if (unref_devices)
        for (libusb_device **d = list; *d; d++)
            libusb_unref_device(*d);
    free(list);
}

libusb_device_handle *LIBUSB_CALL libusb_open_device_with_vid_pid(libusb_context *ctx, uint16_t vendor_id,
                                                                  uint16_t product_id)
{
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    if (n < 0)
        return nullptr;
    libusb_device_handle *h = nullptr;
    for (ssize_t i = 0; i < n; i++) {
        libusb_device_descriptor desc;
        if (libusb_get_device_descriptor(list[i], &desc) == 0 && desc.idVendor == vendor_id &&
            desc.idProduct == product_id) {
            if (libusb_open(list[i], &h) != 0)
                h = nullptr;
            break;
        }
    }
    libusb_free_device_list(list, 1);
    return h;
}

} // extern "C"
