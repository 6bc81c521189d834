// libusb-1.0 calls that the virtual-board test library does not implement.
// Each one says so on stderr and fails (an error code, a null pointer, or
// nothing for calls without a result), so that a program that needs one of
// them stops at once instead of running on wrong assumptions.
#include <libusb.h>

#include <cstdio>

namespace {

void notImplemented(const char *name)
{
    fprintf(stderr, "vusb: %s is not implemented by the virtual-board test library\n", name);
}

} // namespace

extern "C" {

int LIBUSB_CALL libusb_alloc_streams(libusb_device_handle *, uint32_t, unsigned char *, int)
{
    notImplemented("libusb_alloc_streams");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

struct libusb_transfer * LIBUSB_CALL libusb_alloc_transfer(int)
{
    notImplemented("libusb_alloc_transfer");
    return nullptr;
}

int LIBUSB_CALL libusb_cancel_transfer(struct libusb_transfer *)
{
    notImplemented("libusb_cancel_transfer");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle *, uint8_t, uint8_t, uint16_t, uint16_t, unsigned char *, uint16_t, unsigned int)
{
    notImplemented("libusb_control_transfer");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

unsigned char * LIBUSB_CALL libusb_dev_mem_alloc(libusb_device_handle *, size_t)
{
    notImplemented("libusb_dev_mem_alloc");
    return nullptr;
}

int LIBUSB_CALL libusb_dev_mem_free(libusb_device_handle *, unsigned char *, size_t)
{
    notImplemented("libusb_dev_mem_free");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int LIBUSB_CALL libusb_event_handler_active(libusb_context *)
{
    notImplemented("libusb_event_handler_active");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int LIBUSB_CALL libusb_event_handling_ok(libusb_context *)
{
    notImplemented("libusb_event_handling_ok");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

void LIBUSB_CALL libusb_free_bos_descriptor(struct libusb_bos_descriptor *)
{
    notImplemented("libusb_free_bos_descriptor");
}

void LIBUSB_CALL libusb_free_container_id_descriptor(struct libusb_container_id_descriptor *)
{
    notImplemented("libusb_free_container_id_descriptor");
}

void LIBUSB_CALL libusb_free_ss_endpoint_companion_descriptor(struct libusb_ss_endpoint_companion_descriptor *)
{
    notImplemented("libusb_free_ss_endpoint_companion_descriptor");
}

void LIBUSB_CALL libusb_free_ss_usb_device_capability_descriptor(struct libusb_ss_usb_device_capability_descriptor *)
{
    notImplemented("libusb_free_ss_usb_device_capability_descriptor");
}

int LIBUSB_CALL libusb_free_streams(libusb_device_handle *, unsigned char *, int)
{
    notImplemented("libusb_free_streams");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

void LIBUSB_CALL libusb_free_transfer(struct libusb_transfer *)
{
    notImplemented("libusb_free_transfer");
}

void LIBUSB_CALL libusb_free_usb_2_0_extension_descriptor(struct libusb_usb_2_0_extension_descriptor *)
{
    notImplemented("libusb_free_usb_2_0_extension_descriptor");
}

int LIBUSB_CALL libusb_get_bos_descriptor(libusb_device_handle *, struct libusb_bos_descriptor **)
{
    notImplemented("libusb_get_bos_descriptor");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int LIBUSB_CALL libusb_get_container_id_descriptor(libusb_context *, struct libusb_bos_dev_capability_descriptor *, struct libusb_container_id_descriptor **)
{
    notImplemented("libusb_get_container_id_descriptor");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int LIBUSB_CALL libusb_get_max_iso_packet_size(libusb_device *, unsigned char)
{
    notImplemented("libusb_get_max_iso_packet_size");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

libusb_device * LIBUSB_CALL libusb_get_parent(libusb_device *)
{
    notImplemented("libusb_get_parent");
    return nullptr;
}

int LIBUSB_CALL libusb_get_ss_endpoint_companion_descriptor(libusb_context *, const struct libusb_endpoint_descriptor *, struct libusb_ss_endpoint_companion_descriptor **)
{
    notImplemented("libusb_get_ss_endpoint_companion_descriptor");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int LIBUSB_CALL libusb_get_ss_usb_device_capability_descriptor(libusb_context *, struct libusb_bos_dev_capability_descriptor *, struct libusb_ss_usb_device_capability_descriptor **)
{
    notImplemented("libusb_get_ss_usb_device_capability_descriptor");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int LIBUSB_CALL libusb_get_usb_2_0_extension_descriptor(libusb_context *, struct libusb_bos_dev_capability_descriptor *, struct libusb_usb_2_0_extension_descriptor **)
{
    notImplemented("libusb_get_usb_2_0_extension_descriptor");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int LIBUSB_CALL libusb_handle_events_locked(libusb_context *, struct timeval *)
{
    notImplemented("libusb_handle_events_locked");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

void LIBUSB_CALL libusb_interrupt_event_handler(libusb_context *)
{
    notImplemented("libusb_interrupt_event_handler");
}

int LIBUSB_CALL libusb_interrupt_transfer(libusb_device_handle *, unsigned char, unsigned char *, int, int *, unsigned int)
{
    notImplemented("libusb_interrupt_transfer");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

void LIBUSB_CALL libusb_lock_event_waiters(libusb_context *)
{
    notImplemented("libusb_lock_event_waiters");
}

void LIBUSB_CALL libusb_lock_events(libusb_context *)
{
    notImplemented("libusb_lock_events");
}

int LIBUSB_CALL libusb_reset_device(libusb_device_handle *)
{
    notImplemented("libusb_reset_device");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int LIBUSB_CALL libusb_submit_transfer(struct libusb_transfer *)
{
    notImplemented("libusb_submit_transfer");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

uint32_t LIBUSB_CALL libusb_transfer_get_stream_id(struct libusb_transfer *)
{
    notImplemented("libusb_transfer_get_stream_id");
    return 0;
}

void LIBUSB_CALL libusb_transfer_set_stream_id(struct libusb_transfer *, uint32_t)
{
    notImplemented("libusb_transfer_set_stream_id");
}

int LIBUSB_CALL libusb_try_lock_events(libusb_context *)
{
    notImplemented("libusb_try_lock_events");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

void LIBUSB_CALL libusb_unlock_event_waiters(libusb_context *)
{
    notImplemented("libusb_unlock_event_waiters");
}

void LIBUSB_CALL libusb_unlock_events(libusb_context *)
{
    notImplemented("libusb_unlock_events");
}

int LIBUSB_CALL libusb_wait_for_event(libusb_context *, struct timeval *)
{
    notImplemented("libusb_wait_for_event");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

int LIBUSB_CALL libusb_wrap_sys_device(libusb_context *, intptr_t, libusb_device_handle **)
{
    notImplemented("libusb_wrap_sys_device");
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

} // extern "C"
