// Throughput of the virtual board without the link model: how fast FWC data
// moves through complete packet exchanges (31-byte command wrapper, 64 KiB
// data phase, 13-byte status wrapper) of an in-process board, so that later
// benchmarks know the harness is not what limits them.
//
//   vboard_throughput [MiB]    (default 1024)
//
// With ZEL_VBOARD_FARM naming a running farm, it measures through the farm
// as well, on a board it plugs at 9:1 and removes again.
#include "vboard_host.h"

#include <libusb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

uint32_t g_tag = 0;

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = uint8_t(v >> (8 * i));
}

bool xfer(libusb_device_handle *h, uint8_t ep, uint8_t *data, int len)
{
    int n = 0;
    return libusb_bulk_transfer(h, ep, data, len, &n, 5000) == 0 && n == len;
}

// One packet exchange; `in` chooses the data direction.
bool packet(libusb_device_handle *h, uint8_t *data, int len, bool in)
{
    uint8_t w[31] = {'U', 'S', 'B', 'C'};
    put32(w + 4, g_tag++);
    put32(w + 8, uint32_t(len));
    w[12] = in ? 0x80 : 0x00;
    w[14] = 1;
    w[15] = in ? 0x02 : 0x01;
    uint8_t csw[13];
    return xfer(h, 0x01, w, 31) && xfer(h, in ? 0x81 : 0x01, data, len) && xfer(h, 0x81, csw, 13);
}

bool command(libusb_device_handle *h, uint8_t code, uint32_t length)
{
    uint8_t hd[16] = {'U', 'P', 'G', 'C', 1, 1, code, 0};
    put32(hd + 8, length);
    uint32_t sum = 0;
    for (int i = 0; i < 12; i += 4)
        sum += uint32_t(hd[i]) | uint32_t(hd[i + 1]) << 8 | uint32_t(hd[i + 2]) << 16 |
               uint32_t(hd[i + 3]) << 24;
    put32(hd + 12, sum);
    return packet(h, hd, 16, false);
}

double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Sends one FWC of `mib` MiB in 64 KiB data phases; prints the figures.
bool measure(libusb_context *ctx, const char *label, uint8_t bus, uint32_t mib)
{
    libusb_device_handle *h = nullptr;
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    for (ssize_t i = 0; i < n && !h; i++) {
        libusb_device_descriptor d;
        libusb_get_device_descriptor(list[i], &d);
        if (d.idVendor == 0x33C3 && libusb_get_bus_number(list[i]) == bus && libusb_open(list[i], &h) != 0)
            h = nullptr;
    }
    libusb_free_device_list(list, 1);
    if (!h || libusb_claim_interface(h, 0) != 0) {
        fprintf(stderr, "%s: no board to open\n", label);
        return false;
    }
    g_tag = 0;
    const uint32_t size = mib << 20;
    std::vector<uint8_t> entry(512, 0), resp(16), data(65536);
    memcpy(&entry[8], "image.target.bench", 18);
    put32(&entry[140], size);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = uint8_t(i * 7 + 3);
    bool ok = command(h, 0x10, 512) && packet(h, entry.data(), 512, false) &&
              packet(h, resp.data(), 16, true) && resp[7] == 0 && command(h, 0x12, size);
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = cpuSeconds();
    for (uint32_t sent = 0; ok && sent < size; sent += 65536)
        ok = packet(h, data.data(), 65536, false);
    const double cpu = cpuSeconds() - c0;
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ok = ok && packet(h, resp.data(), 16, true) && resp[7] == 0;
    libusb_release_interface(h, 0);
    libusb_close(h);
    if (!ok) {
        fprintf(stderr, "%s: the board refused the data\n", label);
        return false;
    }
    printf("%-10s %u MiB in 64 KiB packet exchanges: %.3f s, %.0f MB/s (%.0f MiB/s), "
           "CPU %.2f ms per MiB (all threads)\n",
           label, mib, secs, double(size) / 1e6 / secs, double(mib) / secs, cpu * 1000.0 / mib);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    const uint32_t mib = argc > 1 ? uint32_t(atoi(argv[1])) : 1024;
    if (mib == 0 || mib > 4095) {
        fprintf(stderr, "usage: vboard_throughput [MiB, 1..4095]\n");
        return 2;
    }
    const std::string farm = getenv(vboard::kFarmEnv) ? getenv(vboard::kFarmEnv) : "";
    unsetenv(vboard::kFarmEnv);

    vboard::BoardConfig c;
    c.position.bus = 1;
    c.startInUpgradeMode = true;
    vboard::addBoard(c);
    libusb_context *ctx = nullptr;
    if (libusb_init(&ctx) != 0 || !measure(ctx, "in-process", 1, mib))
        return 1;
    libusb_exit(ctx);

    if (farm.empty())
        return 0;
    std::string reply;
    if (!vboard::farmCommand(farm, "plug board 9:1 upgrade=1", &reply)) {
        fprintf(stderr, "farm: %s", reply.c_str());
        return 1;
    }
    setenv(vboard::kFarmEnv, farm.c_str(), 1);
    bool ok = libusb_init(&ctx) == 0;
    if (ok) {
        ok = measure(ctx, "farm", 9, mib);
        libusb_exit(ctx);
    }
    vboard::farmCommand(farm, "remove 9:1", &reply);
    return ok ? 0 : 1;
}
