// libusb-1.0.dll for tests of the Windows programs under wine: the libusb
// calls the programs make, served by the board farm of the Linux build over
// its TCP listener (ZEL_VBOARD_FARM=tcp:127.0.0.1:PORT). Placed beside the
// programs only in tests; a line PC has the real libusb there.
#include "farm_link_win.h"
#include "usb_descriptors.h"
#include "usb_error_text.h"

#include <libusb.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <process.h>

using vboard::detail::DevInfo;
using vboard::detail::FarmLink;
namespace farm = vboard::detail::farm;

struct libusb_context {
    std::string address;
    std::mutex mutex; // one list request at a time
    FarmLink list;
    int defaultRefs = 0;
};

struct libusb_device {
    std::atomic<int> refs{1};
    libusb_context *ctx;
    DevInfo info;
};

struct libusb_device_handle {
    libusb_device *dev;
    std::mutex mutex; // one request at a time on the handle's connection
    FarmLink link;
    uint32_t claimed = 0;
};

namespace {

std::mutex g_mutex;
libusb_context *g_default = nullptr;

libusb_context *context(libusb_context *ctx)
{
    if (ctx)
        return ctx;
    std::lock_guard<std::mutex> g(g_mutex);
    return g_default;
}

int createContext(libusb_context **out)
{
    const char *address = getenv("ZEL_VBOARD_FARM");
    if (!address || !*address) {
        fprintf(stderr, "vusb: ZEL_VBOARD_FARM names no board farm\n");
        return LIBUSB_ERROR_OTHER;
    }
    libusb_context *ctx = new libusb_context;
    ctx->address = address;
    std::string error;
    if (!ctx->list.connect(ctx->address, &error)) {
        fprintf(stderr, "vusb: %s\n", error.c_str());
        delete ctx;
        return LIBUSB_ERROR_OTHER;
    }
    *out = ctx;
    return 0;
}

int64_t nowNs()
{
    return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
}

bool hasEndpoint(const DevInfo &d, unsigned char ep)
{
    for (int i = 0; i < d.endpointCount; i++)
        if (d.endpoints[i].address == ep)
            return true;
    return false;
}

int simpleCall(libusb_device_handle *h, uint32_t type, int a)
{
    std::lock_guard<std::mutex> g(h->mutex);
    farm::Header req = {};
    req.type = type;
    req.a = a;
    farm::Header r;
    return h->link.call(req, nullptr, &r, nullptr, 0) ? r.a : LIBUSB_ERROR_NO_DEVICE;
}

} // namespace

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context **ctx)
{
    if (ctx)
        return createContext(ctx);
    std::lock_guard<std::mutex> g(g_mutex);
    if (!g_default) {
        const int rc = createContext(&g_default);
        if (rc)
            return rc;
    }
    g_default->defaultRefs++;
    return 0;
}

void LIBUSB_CALL libusb_exit(libusb_context *ctx)
{
    if (!ctx) {
        std::lock_guard<std::mutex> g(g_mutex);
        if (!g_default || --g_default->defaultRefs > 0)
            return;
        ctx = g_default;
        g_default = nullptr;
    }
    delete ctx;
}

const char *LIBUSB_CALL libusb_strerror(int code)
{
    return vboard::detail::errorText(code);
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context *ctx, libusb_device ***list)
{
    ctx = context(ctx);
    if (!ctx || !list)
        return LIBUSB_ERROR_INVALID_PARAM;
    std::vector<DevInfo> infos(4096);
    farm::Header req = {};
    req.type = farm::kList;
    farm::Header r;
    {
        std::lock_guard<std::mutex> g(ctx->mutex);
        std::string error;
        if (!ctx->list.connected() && !ctx->list.connect(ctx->address, &error))
            return LIBUSB_ERROR_IO;
        if (!ctx->list.call(req, nullptr, &r, infos.data(), uint32_t(infos.size() * sizeof(DevInfo)))) {
            fprintf(stderr, "vusb: lost the board farm at %s\n", ctx->address.c_str());
            return LIBUSB_ERROR_IO;
        }
    }
    if (r.a)
        return r.a;
    infos.resize(r.len / sizeof(DevInfo));
    // The farm's configuration times are on its own clock, which it sends
    // with the list: move them onto this process's clock.
    const int64_t shift = nowNs() - int64_t(r.c);
    libusb_device **l = static_cast<libusb_device **>(calloc(infos.size() + 1, sizeof(libusb_device *)));
    if (!l)
        return LIBUSB_ERROR_NO_MEM;
    for (size_t i = 0; i < infos.size(); i++) {
        l[i] = new libusb_device;
        l[i]->ctx = ctx;
        l[i]->info = infos[i];
        l[i]->info.configuredAtNs += shift;
    }
    *list = l;
    return ssize_t(infos.size());
}

libusb_device *LIBUSB_CALL libusb_ref_device(libusb_device *dev)
{
    dev->refs++;
    return dev;
}

void LIBUSB_CALL libusb_unref_device(libusb_device *dev)
{
    if (dev && --dev->refs == 0)
        delete dev;
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device *dev, struct libusb_device_descriptor *desc)
{
    vboard::detail::fillDeviceDescriptor(dev->info, desc);
    return 0;
}

int LIBUSB_CALL libusb_get_active_config_descriptor(libusb_device *dev,
                                                    struct libusb_config_descriptor **config)
{
    if (!vboard::detail::configuredNow(dev->info))
        return LIBUSB_ERROR_NOT_FOUND;
    *config = vboard::detail::newConfigDescriptor(dev->info);
    return *config ? 0 : LIBUSB_ERROR_NO_MEM;
}

void LIBUSB_CALL libusb_free_config_descriptor(struct libusb_config_descriptor *config)
{
    vboard::detail::freeConfigDescriptor(config);
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device *dev) { return dev->info.bus; }

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device *dev) { return dev->info.address; }

int LIBUSB_CALL libusb_get_port_numbers(libusb_device *dev, uint8_t *port_numbers, int port_numbers_len)
{
    if (port_numbers_len <= 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (dev->info.portCount > port_numbers_len)
        return LIBUSB_ERROR_OVERFLOW;
    memcpy(port_numbers, dev->info.ports, dev->info.portCount);
    return dev->info.portCount;
}

int LIBUSB_CALL libusb_open(libusb_device *dev, libusb_device_handle **dev_handle)
{
    if (!dev || !dev_handle || !dev->ctx)
        return LIBUSB_ERROR_INVALID_PARAM;
    libusb_device_handle *h = new libusb_device_handle;
    std::string error;
    if (!h->link.connect(dev->ctx->address, &error)) {
        delete h;
        return LIBUSB_ERROR_NO_DEVICE;
    }
    char name[64];
    snprintf(name, sizeof name, "wine pid %d", _getpid());
    farm::Header req = {};
    req.type = farm::kOpen;
    req.b = _getpid();
    req.c = dev->info.instance;
    req.len = uint32_t(strlen(name));
    farm::Header r;
    const int rc = h->link.call(req, name, &r, nullptr, 0) ? r.a : LIBUSB_ERROR_NO_DEVICE;
    if (rc) {
        delete h;
        return rc;
    }
    h->dev = libusb_ref_device(dev);
    *dev_handle = h;
    return 0;
}

void LIBUSB_CALL libusb_close(libusb_device_handle *dev_handle)
{
    if (!dev_handle)
        return;
    libusb_unref_device(dev_handle->dev);
    delete dev_handle; // closing the connection releases its claims in the farm
}

libusb_device *LIBUSB_CALL libusb_get_device(libusb_device_handle *dev_handle) { return dev_handle->dev; }

int LIBUSB_CALL libusb_set_auto_detach_kernel_driver(libusb_device_handle *, int)
{
    return LIBUSB_ERROR_NOT_SUPPORTED; // as libusb answers on Windows
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle *dev_handle, int interface_number)
{
    if (!dev_handle || interface_number < 0 || interface_number >= 32)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (interface_number != 0 || !vboard::detail::configuredNow(dev_handle->dev->info))
        return LIBUSB_ERROR_NOT_FOUND;
    const int rc = simpleCall(dev_handle, farm::kClaim, interface_number);
    if (rc == 0)
        dev_handle->claimed |= 1u << interface_number;
    return rc;
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle *dev_handle, int interface_number)
{
    if (!dev_handle || interface_number < 0 || interface_number >= 32)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (!(dev_handle->claimed & (1u << interface_number)))
        return LIBUSB_ERROR_NOT_FOUND;
    dev_handle->claimed &= ~(1u << interface_number);
    return simpleCall(dev_handle, farm::kRelease, interface_number);
}

int LIBUSB_CALL libusb_clear_halt(libusb_device_handle *dev_handle, unsigned char endpoint)
{
    // A board's stall lasts for the one transfer it answers: nothing to clear.
    return hasEndpoint(dev_handle->dev->info, endpoint) ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle *dev_handle, unsigned char endpoint,
                                     unsigned char *data, int length, int *actual_length,
                                     unsigned int timeout)
{
    if (actual_length)
        *actual_length = 0;
    if (!dev_handle || length < 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    std::lock_guard<std::mutex> g(dev_handle->mutex);
    farm::Header req = {};
    req.a = endpoint;
    req.c = timeout;
    farm::Header r;
    bool ok;
    if (endpoint & 0x80) {
        req.type = farm::kBulkIn;
        req.b = length;
        ok = dev_handle->link.call(req, nullptr, &r, data, uint32_t(length));
    } else {
        req.type = farm::kBulkOut;
        req.len = uint32_t(length);
        ok = dev_handle->link.call(req, data, &r, nullptr, 0);
    }
    if (!ok)
        return LIBUSB_ERROR_NO_DEVICE; // the farm is gone, and its devices with it
    if (actual_length)
        *actual_length = r.b;
    return r.a;
}

} // extern "C"
