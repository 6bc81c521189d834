#include "bare_client.h"

#include "vboard_host.h"

#include <libusb.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace
{

void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = uint8_t(v >> (8 * i));
}

class RawLink
{
public:
    explicit RawLink(libusb_device_handle *h) : m_h(h) {}

    // One packet exchange: command wrapper, data phase, status wrapper.
    bool packet(uint8_t *data, uint32_t len, bool in)
    {
        uint8_t cbw[31] = {'U', 'S', 'B', 'C'};
        put32(cbw + 4, m_tag++);
        put32(cbw + 8, len);
        cbw[12] = in ? 0x80 : 0x00;
        cbw[14] = 1;
        cbw[15] = in ? 0x02 : 0x01;
        uint8_t csw[13];
        return transfer(0x01, cbw, 31) && (len == 0 || transfer(in ? 0x81 : 0x01, data, len)) &&
               transfer(0x81, csw, 13) && std::memcmp(csw, "USBS", 4) == 0;
    }

    bool command(uint8_t code, uint32_t length)
    {
        uint8_t hd[16] = {'U', 'P', 'G', 'C', 1, 1, code, 0};
        put32(hd + 8, length);
        put32(hd + 12, 0x43475055u + 0x0101u + (uint32_t(code) << 16) + length);
        return packet(hd, 16, false);
    }

    bool responseOk()
    {
        uint8_t resp[16];
        return packet(resp, 16, true) && resp[7] == 0;
    }

private:
    bool transfer(uint8_t ep, uint8_t *data, uint32_t len)
    {
        int n = 0;
        return libusb_bulk_transfer(m_h, ep, data, int(len), &n, 10000) == 0 && uint32_t(n) == len;
    }

    libusb_device_handle *m_h;
    uint32_t m_tag = 0;
};

libusb_device_handle *openAt(libusb_context *ctx, const vboard::UsbPosition &pos)
{
    libusb_device **list = nullptr;
    libusb_device_handle *h = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    for (ssize_t i = 0; i < n && !h; i++) {
        uint8_t ports[7];
        const int depth = libusb_get_port_numbers(list[i], ports, 7);
        if (libusb_get_bus_number(list[i]) != pos.bus || depth != int(pos.ports.size()) ||
            !std::equal(pos.ports.begin(), pos.ports.end(), ports))
            continue;
        if (libusb_open(list[i], &h) != 0)
            h = nullptr;
    }
    libusb_free_device_list(list, 1);
    if (h && libusb_claim_interface(h, 0) != 0) {
        libusb_close(h);
        h = nullptr;
    }
    return h;
}

bool sendFwc(RawLink &link, uint32_t size, uint32_t packet)
{
    std::vector<uint8_t> entry(512, 0), data(packet);
    std::memcpy(&entry[8], "bench.bare", 10);
    put32(&entry[140], size);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = uint8_t(i * 7 + 3);
    if (!link.command(0x10, 512) || !link.packet(entry.data(), 512, false) || !link.responseOk() ||
        !link.command(0x12, size))
        return false;
    for (uint32_t sent = 0; sent < size; sent += packet) {
        const uint32_t n = size - sent < packet ? size - sent : packet;
        if (!link.packet(data.data(), n, false))
            return false;
    }
    return link.responseOk();
}
} // namespace

int runBareClient(const std::string &position, uint64_t bytes, uint32_t packet)
{
    vboard::UsbPosition pos;
    if (!vboard::UsbPosition::parse(position, &pos) || bytes > 0xFFFFFFFFu || packet == 0) {
        std::fprintf(stderr, "bare client: bad position or size\n");
        return 2;
    }
    libusb_context *ctx = nullptr;
    if (libusb_init(&ctx) != 0)
        return 1;
    libusb_device_handle *h = openAt(ctx, pos);
    bool ok = false;
    if (h) {
        RawLink link(h);
        ok = sendFwc(link, uint32_t(bytes), packet);
        libusb_release_interface(h, 0);
        libusb_close(h);
    }
    libusb_exit(ctx);
    if (!ok)
        std::fprintf(stderr, "bare client: the board at %s did not take %llu bytes\n",
                     position.c_str(), static_cast<unsigned long long>(bytes));
    return ok ? 0 : 1;
}
