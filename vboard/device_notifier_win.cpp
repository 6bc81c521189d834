// vboard-notify.exe: under wine nothing tells Windows programs that a farm
// board came or went. This tool follows the farm's bus events and, for each,
// broadcasts the device-change message Windows sends every top-level window
// when its device tree changes (WM_DEVICECHANGE, DBT_DEVNODES_CHANGED).
// It prints "ready" once subscribed and one line per event; it ends with the
// farm. The farm's address comes from ZEL_VBOARD_FARM (tcp:127.0.0.1:PORT).
#include "device.h"
#include "farm_link_win.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

using vboard::detail::DevInfo;
using vboard::detail::FarmLink;
namespace farm = vboard::detail::farm;

int main()
{
    const char *address = getenv("ZEL_VBOARD_FARM");
    FarmLink link;
    std::string error;
    if (!address || !link.connect(address, &error)) {
        fprintf(stderr, "vboard-notify: %s\n", address ? error.c_str() : "ZEL_VBOARD_FARM is not set");
        return 1;
    }
    farm::Header subscribe = {};
    subscribe.type = farm::kSubscribe;
    farm::Header ack;
    if (!link.send(subscribe, nullptr) || !link.readFull(&ack, sizeof ack) || ack.type != farm::kReply) {
        fprintf(stderr, "vboard-notify: the farm refused the subscription\n");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    for (;;) {
        farm::Header h;
        DevInfo info;
        if (!link.readFull(&h, sizeof h) || h.type != farm::kEvent || h.len != sizeof info ||
            !link.readFull(&info, sizeof info))
            break;
        PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, 7 /* DBT_DEVNODES_CHANGED */, 0);
        printf("%s %04x:%04x at %u-%u\n", h.a ? "arrived" : "left", info.vendor, info.product,
               unsigned(info.bus), info.portCount ? unsigned(info.ports[info.portCount - 1]) : 0u);
        fflush(stdout);
    }
    return 0;
}
