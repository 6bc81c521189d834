#include "ffs_gadget.h"

#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "descriptors are written as they lie");

namespace vboard
{

namespace
{

constexpr const char *kConfigfs = "/sys/kernel/config/usb_gadget";

struct __attribute__((packed)) InterfaceDescs {
    usb_interface_descriptor intf;
    usb_endpoint_descriptor_no_audio in;
    usb_endpoint_descriptor_no_audio out;
};

struct __attribute__((packed)) Descriptors {
    usb_functionfs_descs_head_v2 header;
    uint32_t fsCount;
    uint32_t hsCount;
    InterfaceDescs fs;
    InterfaceDescs hs;
};

InterfaceDescs interfaceDescs(uint8_t interfaceClass, uint16_t maxPacket)
{
    InterfaceDescs d{};
    d.intf.bLength = sizeof d.intf;
    d.intf.bDescriptorType = USB_DT_INTERFACE;
    d.intf.bNumEndpoints = 2;
    d.intf.bInterfaceClass = interfaceClass;
    for (usb_endpoint_descriptor_no_audio *ep : {&d.in, &d.out}) {
        ep->bLength = USB_DT_ENDPOINT_SIZE;
        ep->bDescriptorType = USB_DT_ENDPOINT;
        ep->bmAttributes = USB_ENDPOINT_XFER_BULK;
        ep->wMaxPacketSize = maxPacket;
    }
    // FunctionFS numbers the endpoint files in this order (ep1 IN, ep2 OUT);
    // the controller picks the addresses the host sees.
    d.in.bEndpointAddress = 1 | USB_DIR_IN;
    d.out.bEndpointAddress = 2 | USB_DIR_OUT;
    return d;
}

bool writeFile(const std::string &path, const std::string &text, std::string *error)
{
    FILE *f = fopen(path.c_str(), "w");
    if (!f || fputs(text.c_str(), f) < 0 || fclose(f) != 0) {
        *error = path + ": " + strerror(errno);
        if (f)
            fclose(f);
        return false;
    }
    return true;
}

bool makeDir(const std::string &path, std::string *error)
{
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST)
        return true;
    *error = "mkdir " + path + ": " + strerror(errno);
    return false;
}

std::string hex(unsigned v)
{
    char b[16];
    snprintf(b, sizeof b, "0x%04x", v);
    return b;
}

int openFile(const std::string &path, int flags, std::string *error)
{
    const int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        *error = "open " + path + ": " + strerror(errno);
    return fd;
}

} // namespace

FfsGadget::FfsGadget(const std::string &name, const std::string &udc, const std::string &runDir)
    : m_name(name), m_udc(udc), m_gadgetDir(std::string(kConfigfs) + "/" + name),
      m_mountDir(runDir + "/" + name)
{
}

FfsGadget::~FfsGadget()
{
    for (int fd : {m_inHalt, m_outHalt, m_in, m_out, m_ep0})
        if (fd >= 0)
            close(fd);
}

bool FfsGadget::create(const GadgetIdentity &id, std::string *error)
{
    const std::string g = m_gadgetDir;
    const std::string strings = g + "/strings/0x409";
    const std::string config = g + "/configs/c.1";
    const std::string function = g + "/functions/ffs." + m_name;
    if (!makeDir(g, error) || !writeFile(g + "/idVendor", hex(id.vendor), error) ||
        !writeFile(g + "/idProduct", hex(id.product), error) ||
        !writeFile(g + "/bcdUSB", "0x0200", error) ||
        !writeFile(g + "/bDeviceClass", std::to_string(id.deviceClass), error) ||
        !makeDir(strings, error) || !writeFile(strings + "/manufacturer", id.manufacturer, error) ||
        !writeFile(strings + "/product", id.productName, error) ||
        !writeFile(strings + "/serialnumber", id.serial, error) || !makeDir(config, error) ||
        !writeFile(config + "/MaxPower", "100", error) || !makeDir(function, error))
        return false;
    const std::string link = config + "/ffs." + m_name;
    if (symlink(function.c_str(), link.c_str()) != 0 && errno != EEXIST) {
        *error = "symlink " + link + ": " + strerror(errno);
        return false;
    }
    if (!makeDir(m_mountDir, error))
        return false;
    if (mount(m_name.c_str(), m_mountDir.c_str(), "functionfs", 0, nullptr) != 0 &&
        errno != EBUSY) {
        *error = "mount functionfs " + m_mountDir + ": " + strerror(errno);
        return false;
    }

    m_ep0 = openFile(m_mountDir + "/ep0", O_RDWR, error);
    if (m_ep0 < 0)
        return false;
    Descriptors d{};
    d.header.magic = FUNCTIONFS_DESCRIPTORS_MAGIC_V2;
    d.header.length = sizeof d;
    d.header.flags = FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC;
    d.fsCount = 3;
    d.hsCount = 3;
    d.fs = interfaceDescs(id.interfaceClass, 64);
    d.hs = interfaceDescs(id.interfaceClass, 512);
    usb_functionfs_strings_head s{};
    s.magic = FUNCTIONFS_STRINGS_MAGIC;
    s.length = sizeof s;
    if (write(m_ep0, &d, sizeof d) != ssize_t(sizeof d) ||
        write(m_ep0, &s, sizeof s) != ssize_t(sizeof s)) {
        *error = "writing FunctionFS descriptors: " + std::string(strerror(errno));
        return false;
    }
    m_in = openFile(m_mountDir + "/ep1", O_RDWR, error);
    m_out = m_in < 0 ? -1 : openFile(m_mountDir + "/ep2", O_RDWR, error);
    m_inHalt = m_out < 0 ? -1 : openFile(m_mountDir + "/ep1", O_RDWR | O_NONBLOCK, error);
    m_outHalt = m_inHalt < 0 ? -1 : openFile(m_mountDir + "/ep2", O_RDWR | O_NONBLOCK, error);
    return m_outHalt >= 0;
}

bool FfsGadget::bind(std::string *error)
{
    return writeFile(m_gadgetDir + "/UDC", m_udc, error);
}

bool FfsGadget::unbind(std::string *error)
{
    return writeFile(m_gadgetDir + "/UDC", "\n", error);
}

void FfsGadget::halt()
{
    // FunctionFS halts an endpoint when it is used against its direction.
    // The non-blocking files fail at once instead when the endpoint is not
    // enabled (the gadget is not bound).
    char byte = 0;
    const ssize_t in = read(m_inHalt, &byte, 1);
    const ssize_t out = write(m_outHalt, &byte, 1);
    if (in >= 0 || out >= 0)
        fprintf(stderr, "vboard-ffs: %s: an endpoint did not halt\n", m_name.c_str());
}

} // namespace vboard
