// A second process for the farm tests: it holds a claim or listens for
// hotplug events through the test library, and reports on stdout.
//   vboard_farm_peer claim POS   claim interface 0 of the device at POS, print
//                                "claim RC", then hold it until stdin closes
//   vboard_farm_peer listen N    print "ready", then one line per hotplug
//                                event ("+1:3" / "-1:3"), and exit after N
#include <libusb.h>

#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

int g_left = 0;

std::string position(libusb_device *dev)
{
    uint8_t ports[7];
    const int n = libusb_get_port_numbers(dev, ports, 7);
    std::string s = std::to_string(libusb_get_bus_number(dev));
    for (int i = 0; i < n; i++)
        s += ":" + std::to_string(ports[i]);
    return s;
}

int LIBUSB_CALL onHotplug(libusb_context *, libusb_device *dev, libusb_hotplug_event ev, void *)
{
    printf("%c%s\n", ev == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? '+' : '-', position(dev).c_str());
    fflush(stdout);
    g_left--;
    return 0;
}

int claim(libusb_context *ctx, const std::string &pos)
{
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    libusb_device_handle *h = nullptr;
    for (ssize_t i = 0; i < n; i++)
        if (position(list[i]) == pos && libusb_open(list[i], &h) != 0)
            h = nullptr;
    libusb_free_device_list(list, 1);
    if (!h) {
        printf("claim open-failed\n");
        return 1;
    }
    printf("claim %d\n", libusb_claim_interface(h, 0));
    fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    // Exit without releasing: the farm must release the claim itself.
    _exit(0);
}

int listen(libusb_context *ctx, int count)
{
    g_left = count;
    libusb_hotplug_callback_handle cb;
    if (libusb_hotplug_register_callback(
            ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, 0,
            LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, onHotplug,
            nullptr, &cb) != 0)
        return 1;
    const libusb_pollfd **fds = libusb_get_pollfds(ctx);
    printf("ready\n");
    fflush(stdout);
    struct timeval zero = {0, 0};
    while (g_left > 0) {
        struct pollfd p = {fds[0]->fd, fds[0]->events, 0};
        if (poll(&p, 1, 10000) <= 0)
            break; // nothing within 10 s
        libusb_handle_events_timeout(ctx, &zero);
    }
    libusb_free_pollfds(fds);
    return g_left > 0 ? 2 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    libusb_context *ctx = nullptr;
    const int rc = libusb_init(&ctx);
    if (rc != 0) {
        printf("init %d\n", rc);
        return 1;
    }
    const std::string cmd = argv[1];
    const int r = cmd == "claim" ? claim(ctx, argv[2]) : cmd == "listen" ? listen(ctx, atoi(argv[2])) : 2;
    libusb_exit(ctx);
    return r;
}
