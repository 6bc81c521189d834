// The libusb-1.0 calls the project uses, over virtual devices.
//
// A context created while ZEL_VBOARD_FARM names a socket talks to the board
// farm; otherwise it sees the in-process bus (vboard_host.h), on which
// ZEL_VBOARD_LOCAL may plug boards for a program that knows nothing of them
// (see kLocalEnv), and ZEL_VBOARD_REPORT names a file that gets one line per
// device when the last context ends. The calls this
// library does not implement are in vusb_unimplemented.cpp: they print a
// message and fail.
#include "backend.h"
#include "usb_descriptors.h"
#include "usb_error_text.h"
#include "vboard_host.h"

#include <libusb.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/time.h>

using vboard::detail::Backend;
using vboard::detail::BusEvent;
using vboard::detail::Channel;
using vboard::detail::DevInfo;

struct libusb_context {
    std::unique_ptr<Backend> backend;
    std::map<uint64_t, libusb_device *> devices; // by instance, under g_mutex
    struct Hotplug {
        libusb_hotplug_callback_handle handle;
        int events;
        int vendor, product, deviceClass;
        libusb_hotplug_callback_fn fn;
        void *user;
    };
    std::mutex hotplugMutex;
    std::vector<Hotplug> hotplugs;
    int nextHotplug = 1;
    std::mutex eventMutex; // one event handler at a time
    int defaultRefs = 0;
};

struct libusb_device {
    std::atomic<int> refs{1};
    libusb_context *ctx;
    DevInfo info;
};

struct libusb_device_handle {
    libusb_device *dev;
    std::unique_ptr<Channel> channel;
    uint32_t claimed = 0;
};

namespace {

std::mutex g_mutex; // contexts and their device caches
libusb_context *g_default = nullptr;
std::vector<libusb_context *> g_contexts;

libusb_context *context(libusb_context *ctx)
{
    if (ctx)
        return ctx;
    std::lock_guard<std::mutex> g(g_mutex);
    if (g_default)
        return g_default;
    // Like libusb: the first context stands in for a missing default one.
    return g_contexts.empty() ? nullptr : g_contexts.front();
}

libusb_device *deviceFor(libusb_context *ctx, const DevInfo &info)
{
    std::lock_guard<std::mutex> g(g_mutex);
    auto it = ctx->devices.find(info.instance);
    if (it != ctx->devices.end()) {
        it->second->refs++;
        return it->second;
    }
    libusb_device *d = new libusb_device;
    d->ctx = ctx;
    d->info = info;
    ctx->devices[info.instance] = d;
    return d;
}

// Boards a program's in-process bus starts with: "plug" control lines
// without the word, separated by ";", e.g. "board 1:1 upgrade=1 link=1".
// Benchmarks use it to serve a board inside the measured process.
constexpr const char *kLocalEnv = "ZEL_VBOARD_LOCAL";
constexpr const char *kReportEnv = "ZEL_VBOARD_REPORT";

void plugLocalBoards()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const char *boards = getenv(kLocalEnv);
        std::string rest = boards ? boards : "";
        while (!rest.empty()) {
            const size_t end = rest.find(';');
            const std::string item = rest.substr(0, end);
            rest = end == std::string::npos ? "" : rest.substr(end + 1);
            if (item.find_first_not_of(' ') == std::string::npos)
                continue;
            std::string reply;
            if (!vboard::control("plug " + item, &reply))
                fprintf(stderr, "vusb: %s: %s", kLocalEnv, reply.c_str());
        }
    });
}

// One line per device of the in-process bus, appended to $ZEL_VBOARD_REPORT.
void writeLocalReport()
{
    const char *path = getenv(kReportEnv);
    if (!path || !*path)
        return;
    FILE *f = fopen(path, "a");
    if (!f)
        return;
    for (vboard::DeviceId id : vboard::devices())
        fputs(vboard::describe(id, false).c_str(), f);
    fclose(f);
}

int createContext(libusb_context **out)
{
    std::unique_ptr<libusb_context> ctx(new libusb_context);
    const char *farm = getenv(vboard::kFarmEnv);
    if (farm && *farm) {
        ctx->backend = vboard::detail::makeFarmBackend(farm);
        if (!ctx->backend)
            return LIBUSB_ERROR_OTHER;
    } else {
        plugLocalBoards();
        ctx->backend = vboard::detail::makeLocalBackend();
    }
    *out = ctx.release();
    return 0;
}

int timevalMs(const struct timeval *tv)
{
    if (!tv)
        return 60000;
    const long long ms = (long long)tv->tv_sec * 1000 + (tv->tv_usec + 999) / 1000;
    return ms > 0x7fffffff ? 0x7fffffff : int(ms);
}

bool hotplugMatches(const libusb_context::Hotplug &h, const DevInfo &d)
{
    return (h.vendor == LIBUSB_HOTPLUG_MATCH_ANY || h.vendor == d.vendor) &&
           (h.product == LIBUSB_HOTPLUG_MATCH_ANY || h.product == d.product) &&
           (h.deviceClass == LIBUSB_HOTPLUG_MATCH_ANY || h.deviceClass == d.deviceClass);
}

// Calls the matching callbacks for one event; callbacks that answer 1 are
// deregistered.
void dispatch(libusb_context *ctx, const BusEvent &ev)
{
    const libusb_hotplug_event kind =
        ev.arrived ? LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED : LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
    std::vector<libusb_context::Hotplug> hs;
    {
        std::lock_guard<std::mutex> g(ctx->hotplugMutex);
        hs = ctx->hotplugs;
    }
    libusb_device *dev = nullptr;
    for (const auto &h : hs) {
        if (!(h.events & kind) || !hotplugMatches(h, ev.info))
            continue;
        if (!dev)
            dev = deviceFor(ctx, ev.info);
        if (h.fn(ctx, dev, kind, h.user) == 1)
            libusb_hotplug_deregister_callback(ctx, h.handle);
    }
    if (dev)
        libusb_unref_device(dev);
}

bool hasEndpoint(const DevInfo &d, unsigned char ep)
{
    for (int i = 0; i < d.endpointCount; i++)
        if (d.endpoints[i].address == ep)
            return true;
    return false;
}

} // namespace

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context **ctx)
{
    if (!ctx) {
        std::unique_lock<std::mutex> g(g_mutex);
        if (g_default) {
            g_default->defaultRefs++;
            return 0;
        }
        g.unlock();
        libusb_context *c = nullptr;
        const int rc = createContext(&c);
        if (rc)
            return rc;
        g.lock();
        if (g_default) { // another thread won
            g_default->defaultRefs++;
            g.unlock();
            delete c;
            return 0;
        }
        c->defaultRefs = 1;
        g_default = c;
        g_contexts.push_back(c);
        return 0;
    }
    const int rc = createContext(ctx);
    if (rc)
        return rc;
    std::lock_guard<std::mutex> g(g_mutex);
    g_contexts.push_back(*ctx);
    return 0;
}

void LIBUSB_CALL libusb_exit(libusb_context *ctx)
{
    libusb_context *c = ctx;
    bool last = false;
    {
        std::lock_guard<std::mutex> g(g_mutex);
        if (!c) {
            if (!g_default || --g_default->defaultRefs > 0)
                return;
            c = g_default;
            g_default = nullptr;
        }
        for (size_t i = 0; i < g_contexts.size(); i++)
            if (g_contexts[i] == c)
                g_contexts.erase(g_contexts.begin() + long(i));
        // Devices still referenced by the caller outlive the context.
        for (auto &kv : c->devices)
            kv.second->ctx = nullptr;
        c->devices.clear();
        last = g_contexts.empty();
    }
    delete c;
    if (last)
        writeLocalReport();
}

void LIBUSB_CALL libusb_set_debug(libusb_context *, int) {}

void LIBUSB_CALL libusb_set_log_cb(libusb_context *, libusb_log_cb, int)
{
    // This library writes no libusb log messages, so the callback never runs.
}

int LIBUSB_CALL libusb_set_option(libusb_context *, enum libusb_option option, ...)
{
    if (option == LIBUSB_OPTION_LOG_LEVEL)
        return 0;
    fprintf(stderr, "vusb: libusb_set_option(%d) is not implemented by the virtual-board "
                    "test library\n",
            int(option));
    return LIBUSB_ERROR_NOT_SUPPORTED;
}

const struct libusb_version *LIBUSB_CALL libusb_get_version(void)
{
    static const libusb_version v = {1, 0, 26, 0, "-vboard", "virtual-board test library"};
    return &v;
}

int LIBUSB_CALL libusb_has_capability(uint32_t capability)
{
    return capability == LIBUSB_CAP_HAS_CAPABILITY || capability == LIBUSB_CAP_HAS_HOTPLUG ||
           capability == LIBUSB_CAP_SUPPORTS_DETACH_KERNEL_DRIVER;
}

const char *LIBUSB_CALL libusb_error_name(int code)
{
    switch (code) {
    case LIBUSB_ERROR_IO:
        return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM:
        return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS:
        return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE:
        return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND:
        return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY:
        return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT:
        return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW:
        return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE:
        return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED:
        return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM:
        return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER:
        return "LIBUSB_ERROR_OTHER";
    case LIBUSB_TRANSFER_ERROR:
        return "LIBUSB_TRANSFER_ERROR";
    case LIBUSB_TRANSFER_TIMED_OUT:
        return "LIBUSB_TRANSFER_TIMED_OUT";
    case LIBUSB_TRANSFER_CANCELLED:
        return "LIBUSB_TRANSFER_CANCELLED";
    case LIBUSB_TRANSFER_STALL:
        return "LIBUSB_TRANSFER_STALL";
    case LIBUSB_TRANSFER_NO_DEVICE:
        return "LIBUSB_TRANSFER_NO_DEVICE";
    case LIBUSB_TRANSFER_OVERFLOW:
        return "LIBUSB_TRANSFER_OVERFLOW";
    case 0:
        return "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED";
    default:
        return "**UNKNOWN**";
    }
}

int LIBUSB_CALL libusb_setlocale(const char *locale)
{
    if (!locale || strlen(locale) < 2)
        return LIBUSB_ERROR_INVALID_PARAM;
    return (locale[0] == 'e' || locale[0] == 'E') && (locale[1] == 'n' || locale[1] == 'N')
               ? 0
               : LIBUSB_ERROR_NOT_FOUND;
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
    std::vector<DevInfo> infos;
    const int rc = ctx->backend->list(&infos);
    if (rc)
        return rc;
    libusb_device **l =
        static_cast<libusb_device **>(calloc(infos.size() + 1, sizeof(libusb_device *)));
    if (!l)
        return LIBUSB_ERROR_NO_MEM;
    for (size_t i = 0; i < infos.size(); i++)
        l[i] = deviceFor(ctx, infos[i]);
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
    if (!dev)
        return;
    std::lock_guard<std::mutex> g(g_mutex);
    if (--dev->refs > 0)
        return;
    if (dev->ctx)
        dev->ctx->devices.erase(dev->info.instance);
    delete dev;
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device *dev,
                                             struct libusb_device_descriptor *desc)
{
    vboard::detail::fillDeviceDescriptor(dev->info, desc);
    return 0;
}

int LIBUSB_CALL libusb_get_active_config_descriptor(libusb_device *dev,
                                                    struct libusb_config_descriptor **config)
{
    if (!configuredNow(dev->info))
        return LIBUSB_ERROR_NOT_FOUND; // what libusb answers for an unconfigured device
    *config = vboard::detail::newConfigDescriptor(dev->info);
    return *config ? 0 : LIBUSB_ERROR_NO_MEM;
}

int LIBUSB_CALL libusb_get_config_descriptor(libusb_device *dev, uint8_t index,
                                             struct libusb_config_descriptor **config)
{
    if (index != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    return libusb_get_active_config_descriptor(dev, config);
}

int LIBUSB_CALL libusb_get_config_descriptor_by_value(libusb_device *dev, uint8_t value,
                                                      struct libusb_config_descriptor **config)
{
    if (value != 1)
        return LIBUSB_ERROR_NOT_FOUND;
    return libusb_get_active_config_descriptor(dev, config);
}

void LIBUSB_CALL libusb_free_config_descriptor(struct libusb_config_descriptor *config)
{
    vboard::detail::freeConfigDescriptor(config);
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device *dev) { return dev->info.bus; }

uint8_t LIBUSB_CALL libusb_get_port_number(libusb_device *dev)
{
    return dev->info.portCount ? dev->info.ports[dev->info.portCount - 1] : 0;
}

int LIBUSB_CALL libusb_get_port_numbers(libusb_device *dev, uint8_t *port_numbers,
                                        int port_numbers_len)
{
    if (port_numbers_len <= 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (dev->info.portCount > port_numbers_len)
        return LIBUSB_ERROR_OVERFLOW;
    memcpy(port_numbers, dev->info.ports, dev->info.portCount);
    return dev->info.portCount;
}

int LIBUSB_CALL libusb_get_port_path(libusb_context *, libusb_device *dev, uint8_t *path,
                                     uint8_t path_length)
{
    return libusb_get_port_numbers(dev, path, path_length);
}

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device *dev) { return dev->info.address; }

int LIBUSB_CALL libusb_get_device_speed(libusb_device *) { return LIBUSB_SPEED_HIGH; }

int LIBUSB_CALL libusb_get_max_packet_size(libusb_device *dev, unsigned char endpoint)
{
    for (int i = 0; i < dev->info.endpointCount; i++)
        if (dev->info.endpoints[i].address == endpoint)
            return dev->info.endpoints[i].maxPacket;
    return LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_open(libusb_device *dev, libusb_device_handle **dev_handle)
{
    if (!dev || !dev_handle)
        return LIBUSB_ERROR_INVALID_PARAM;
    libusb_context *ctx = dev->ctx ? dev->ctx : context(nullptr);
    if (!ctx)
        return LIBUSB_ERROR_NO_DEVICE;
    std::unique_ptr<Channel> ch;
    const int rc = ctx->backend->open(dev->info, &ch);
    if (rc)
        return rc;
    libusb_device_handle *h = new libusb_device_handle;
    h->dev = libusb_ref_device(dev);
    h->channel = std::move(ch);
    *dev_handle = h;
    return 0;
}

void LIBUSB_CALL libusb_close(libusb_device_handle *dev_handle)
{
    if (!dev_handle)
        return;
    dev_handle->channel.reset();
    libusb_unref_device(dev_handle->dev);
    delete dev_handle;
}

libusb_device *LIBUSB_CALL libusb_get_device(libusb_device_handle *dev_handle)
{
    return dev_handle->dev;
}

int LIBUSB_CALL libusb_get_configuration(libusb_device_handle *dev_handle, int *config)
{
    *config = configuredNow(dev_handle->dev->info) ? 1 : 0;
    return 0;
}

int LIBUSB_CALL libusb_set_configuration(libusb_device_handle *dev_handle, int configuration)
{
    if (configuration != 1 && configuration != -1)
        return LIBUSB_ERROR_NOT_FOUND;
    return dev_handle->claimed ? LIBUSB_ERROR_BUSY : 0;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle *dev_handle, int interface_number)
{
    if (!dev_handle || interface_number < 0 || interface_number >= 32)
        return LIBUSB_ERROR_INVALID_PARAM;
    if (interface_number != 0 || !configuredNow(dev_handle->dev->info))
        return LIBUSB_ERROR_NOT_FOUND;
    const int rc = dev_handle->channel->claim(interface_number);
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
    return dev_handle->channel->release(interface_number);
}

int LIBUSB_CALL libusb_set_interface_alt_setting(libusb_device_handle *dev_handle,
                                                 int interface_number, int alternate_setting)
{
    if (interface_number != 0 || !(dev_handle->claimed & 1u))
        return LIBUSB_ERROR_NOT_FOUND;
    return alternate_setting == 0 ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_clear_halt(libusb_device_handle *dev_handle, unsigned char endpoint)
{
    // A board's stall lasts for the one transfer it answers: nothing to clear.
    return hasEndpoint(dev_handle->dev->info, endpoint) ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_kernel_driver_active(libusb_device_handle *, int interface_number)
{
    return interface_number == 0 ? 0 : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_detach_kernel_driver(libusb_device_handle *, int)
{
    return LIBUSB_ERROR_NOT_FOUND; // no kernel driver is bound to a virtual device
}

int LIBUSB_CALL libusb_attach_kernel_driver(libusb_device_handle *, int)
{
    return LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_set_auto_detach_kernel_driver(libusb_device_handle *, int) { return 0; }

int LIBUSB_CALL libusb_bulk_transfer(libusb_device_handle *dev_handle, unsigned char endpoint,
                                     unsigned char *data, int length, int *actual_length,
                                     unsigned int timeout)
{
    int transferred = 0;
    const int rc = dev_handle->channel->bulk(endpoint, data, length, &transferred, timeout);
    if (actual_length)
        *actual_length = transferred;
    return rc;
}

int LIBUSB_CALL libusb_get_string_descriptor_ascii(libusb_device_handle *dev_handle,
                                                   uint8_t desc_index, unsigned char *data,
                                                   int length)
{
    if (desc_index == 0 || length <= 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    const DevInfo &d = dev_handle->dev->info;
    const bool board = d.vendor == vboard::kBoardVendor && d.product == vboard::kBoardProduct;
    std::string s;
    if (desc_index == 1)
        s = board ? "Zelkora" : "Virtual";
    else if (desc_index == 2)
        s = board ? "USB Upgrade" : "Virtual Device";
    else if (desc_index == 3)
        s = "VB" + std::to_string(d.id);
    else
        return LIBUSB_ERROR_PIPE;
    const int n = std::min<int>(length - 1, int(s.size()));
    memcpy(data, s.data(), size_t(n));
    data[n] = 0;
    return n;
}

// ---- events and hotplug ---------------------------------------------------------

int LIBUSB_CALL libusb_handle_events_timeout_completed(libusb_context *ctx, struct timeval *tv,
                                                       int *completed)
{
    ctx = context(ctx);
    if (!ctx)
        return LIBUSB_ERROR_INVALID_PARAM;
    std::lock_guard<std::mutex> g(ctx->eventMutex);
    if (completed && *completed)
        return 0;
    struct pollfd p = {ctx->backend->eventFd(), POLLIN, 0};
    const int r = poll(&p, 1, timevalMs(tv));
    if (r < 0)
        return errno == EINTR ? LIBUSB_ERROR_INTERRUPTED : LIBUSB_ERROR_IO;
    if (r == 0)
        return 0;
    std::vector<BusEvent> events;
    ctx->backend->drainEvents(&events);
    for (const BusEvent &ev : events)
        dispatch(ctx, ev);
    return 0;
}

int LIBUSB_CALL libusb_handle_events_timeout(libusb_context *ctx, struct timeval *tv)
{
    return libusb_handle_events_timeout_completed(ctx, tv, nullptr);
}

int LIBUSB_CALL libusb_handle_events(libusb_context *ctx)
{
    struct timeval tv = {60, 0};
    return libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
}

int LIBUSB_CALL libusb_handle_events_completed(libusb_context *ctx, int *completed)
{
    struct timeval tv = {60, 0};
    return libusb_handle_events_timeout_completed(ctx, &tv, completed);
}

int LIBUSB_CALL libusb_pollfds_handle_timeouts(libusb_context *) { return 1; }

int LIBUSB_CALL libusb_get_next_timeout(libusb_context *, struct timeval *)
{
    return 0; // no transfer timeouts are pending: transfers here are synchronous
}

const struct libusb_pollfd **LIBUSB_CALL libusb_get_pollfds(libusb_context *ctx)
{
    ctx = context(ctx);
    if (!ctx)
        return nullptr;
    struct Block {
        const libusb_pollfd *list[2];
        libusb_pollfd fd;
    };
    Block *b = static_cast<Block *>(calloc(1, sizeof(Block)));
    if (!b)
        return nullptr;
    b->fd.fd = ctx->backend->eventFd();
    b->fd.events = POLLIN;
    b->list[0] = &b->fd;
    b->list[1] = nullptr;
    return b->list;
}

void LIBUSB_CALL libusb_free_pollfds(const struct libusb_pollfd **pollfds)
{
    free(const_cast<libusb_pollfd **>(pollfds)); // the Block starts with the list
}

void LIBUSB_CALL libusb_set_pollfd_notifiers(libusb_context *, libusb_pollfd_added_cb,
                                             libusb_pollfd_removed_cb, void *)
{
    // A context's descriptor set never changes after libusb_init, so the
    // notifiers would never be called.
}

int LIBUSB_CALL libusb_hotplug_register_callback(libusb_context *ctx, int events, int flags,
                                                 int vendor_id, int product_id, int dev_class,
                                                 libusb_hotplug_callback_fn cb_fn, void *user_data,
                                                 libusb_hotplug_callback_handle *callback_handle)
{
    ctx = context(ctx);
    if (!ctx || !cb_fn || !events ||
        (events & ~(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT)) ||
        (vendor_id != LIBUSB_HOTPLUG_MATCH_ANY && (vendor_id & ~0xffff)) ||
        (product_id != LIBUSB_HOTPLUG_MATCH_ANY && (product_id & ~0xffff)) ||
        (dev_class != LIBUSB_HOTPLUG_MATCH_ANY && (dev_class & ~0xff)))
        return LIBUSB_ERROR_INVALID_PARAM;
    libusb_context::Hotplug h;
    h.events = events;
    h.vendor = vendor_id;
    h.product = product_id;
    h.deviceClass = dev_class;
    h.fn = cb_fn;
    h.user = user_data;
    {
        std::lock_guard<std::mutex> g(ctx->hotplugMutex);
        h.handle = ctx->nextHotplug++;
        ctx->hotplugs.push_back(h);
    }
    if (callback_handle)
        *callback_handle = h.handle;
    if ((flags & LIBUSB_HOTPLUG_ENUMERATE) && (events & LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED)) {
        std::vector<DevInfo> infos;
        if (ctx->backend->list(&infos) == 0) {
            for (const DevInfo &d : infos) {
                if (!hotplugMatches(h, d))
                    continue;
                libusb_device *dev = deviceFor(ctx, d);
                const int stop = cb_fn(ctx, dev, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, user_data);
                libusb_unref_device(dev);
                if (stop == 1) {
                    libusb_hotplug_deregister_callback(ctx, h.handle);
                    break;
                }
            }
        }
    }
    return 0;
}

void LIBUSB_CALL libusb_hotplug_deregister_callback(libusb_context *ctx,
                                                    libusb_hotplug_callback_handle callback_handle)
{
    ctx = context(ctx);
    if (!ctx)
        return;
    std::lock_guard<std::mutex> g(ctx->hotplugMutex);
    for (size_t i = 0; i < ctx->hotplugs.size(); i++)
        if (ctx->hotplugs[i].handle == callback_handle) {
            ctx->hotplugs.erase(ctx->hotplugs.begin() + long(i));
            return;
        }
}

void *LIBUSB_CALL libusb_hotplug_get_user_data(libusb_context *ctx,
                                               libusb_hotplug_callback_handle callback_handle)
{
    ctx = context(ctx);
    if (!ctx)
        return nullptr;
    std::lock_guard<std::mutex> g(ctx->hotplugMutex);
    for (const auto &h : ctx->hotplugs)
        if (h.handle == callback_handle)
            return h.user;
    return nullptr;
}

} // extern "C"
