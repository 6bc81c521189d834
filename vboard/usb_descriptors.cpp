#include "usb_descriptors.h"

#include <cstdlib>
#include <cstring>

namespace vboard {
namespace detail {

void fillDeviceDescriptor(const DevInfo &d, libusb_device_descriptor *desc)
{
    memset(desc, 0, sizeof *desc);
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->bcdUSB = 0x0200;
    desc->bDeviceClass = d.deviceClass;
    desc->bMaxPacketSize0 = 64;
    desc->idVendor = d.vendor;
    desc->idProduct = d.product;
    desc->bcdDevice = 0x0100;
    desc->iManufacturer = 1;
    desc->iProduct = 2;
    desc->iSerialNumber = 3;
    desc->bNumConfigurations = 1;
}

namespace {
struct Block {
    libusb_config_descriptor config; // first: the block is freed through it
    libusb_interface interface;
    libusb_interface_descriptor alt;
    libusb_endpoint_descriptor endpoints[16];
};
} // namespace

libusb_config_descriptor *newConfigDescriptor(const DevInfo &d)
{
    Block *b = static_cast<Block *>(calloc(1, sizeof(Block)));
    if (!b)
        return nullptr;
    for (int i = 0; i < d.endpointCount; i++) {
        libusb_endpoint_descriptor &e = b->endpoints[i];
        e.bLength = LIBUSB_DT_ENDPOINT_SIZE;
        e.bDescriptorType = LIBUSB_DT_ENDPOINT;
        e.bEndpointAddress = d.endpoints[i].address;
        e.bmAttributes = d.endpoints[i].attributes;
        e.wMaxPacketSize = d.endpoints[i].maxPacket;
        e.bInterval = (d.endpoints[i].attributes & 3) == LIBUSB_TRANSFER_TYPE_INTERRUPT ? 10 : 0;
    }
    b->alt.bLength = LIBUSB_DT_INTERFACE_SIZE;
    b->alt.bDescriptorType = LIBUSB_DT_INTERFACE;
    b->alt.bInterfaceNumber = 0;
    b->alt.bNumEndpoints = d.endpointCount;
    b->alt.bInterfaceClass = d.interfaceClass;
    b->alt.endpoint = b->endpoints;
    b->interface.altsetting = &b->alt;
    b->interface.num_altsetting = 1;
    b->config.bLength = LIBUSB_DT_CONFIG_SIZE;
    b->config.bDescriptorType = LIBUSB_DT_CONFIG;
    b->config.wTotalLength = uint16_t(LIBUSB_DT_CONFIG_SIZE + LIBUSB_DT_INTERFACE_SIZE +
                                      d.endpointCount * LIBUSB_DT_ENDPOINT_SIZE);
    b->config.bNumInterfaces = 1;
    b->config.bConfigurationValue = 1;
    b->config.bmAttributes = 0x80;
    b->config.MaxPower = 250;
    b->config.interface = &b->interface;
    return &b->config;
}

void freeConfigDescriptor(libusb_config_descriptor *config)
{
    free(config);
}

} // namespace detail
} // namespace vboard
