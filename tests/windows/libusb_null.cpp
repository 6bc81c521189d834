// A libusb-1.0.dll without devices for the Windows tests: the library links
// libusb, but Debian has no Windows build of it. Every call the library makes
// answers as a system without USB boards would.
#include <libusb.h>

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context **ctx)
{
    if (ctx)
        *ctx = nullptr;
    return 0;
}
void LIBUSB_CALL libusb_exit(libusb_context *) {}
ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context *, libusb_device ***list)
{
    static libusb_device *none[1] = {nullptr};
    *list = none;
    return 0;
}
void LIBUSB_CALL libusb_free_device_list(libusb_device **, int) {}
libusb_device_handle *LIBUSB_CALL libusb_open_device_with_vid_pid(libusb_context *, uint16_t,
                                                                  uint16_t)
{
    return nullptr;
}
int LIBUSB_CALL libusb_open(libusb_device *, libusb_device_handle **) { return LIBUSB_ERROR_NO_DEVICE; }
void LIBUSB_CALL libusb_close(libusb_device_handle *) {}
libusb_device *LIBUSB_CALL libusb_get_device(libusb_device_handle *) { return nullptr; }
int LIBUSB_CALL libusb_get_device_descriptor(libusb_device *, libusb_device_descriptor *)
{
    return LIBUSB_ERROR_NO_DEVICE;
}
int LIBUSB_CALL libusb_get_active_config_descriptor(libusb_device *, libusb_config_descriptor **)
{
    return LIBUSB_ERROR_NO_DEVICE;
}
void LIBUSB_CALL libusb_free_config_descriptor(libusb_config_descriptor *) {}
uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device *) { return 0; }
uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device *) { return 0; }
int LIBUSB_CALL libusb_get_port_numbers(libusb_device *, uint8_t *, int) { return LIBUSB_ERROR_NO_DEVICE; }
int LIBUSB_CALL libusb_set_auto_detach_kernel_driver(libusb_device_handle *, int) { return 0; }
int LIBUSB_CALL libusb_claim_interface(libusb_device_handle *, int) { return LIBUSB_ERROR_NO_DEVICE; }
int LIBUSB_CALL libusb_release_interface(libusb_device_handle *, int) { return LIBUSB_ERROR_NO_DEVICE; }
int LIBUSB_CALL libusb_clear_halt(libusb_device_handle *, unsigned char) { return LIBUSB_ERROR_NO_DEVICE; }
int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle *, unsigned char, unsigned char *, int,
                                     int *, unsigned int)
{
    return LIBUSB_ERROR_NO_DEVICE;
}
const char *LIBUSB_CALL libusb_strerror(int) { return "no USB in this test"; }
}
