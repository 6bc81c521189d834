// A deliberately small host for the board tests: raw wrappers and command
// headers built byte by byte, with every libusb result kept, so that tests
// can drive the board correctly and incorrectly.
#pragma once

#include <libusb.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace rawhost {

using Bytes = std::vector<uint8_t>;

inline void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = uint8_t(v >> (8 * i));
}
inline uint32_t get32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline Bytes u32(uint32_t v)
{
    Bytes b(4);
    put32(b.data(), v);
    return b;
}

inline Bytes cbw(uint32_t tag, uint32_t length, bool toHost)
{
    Bytes b(31, 0);
    memcpy(b.data(), "USBC", 4);
    put32(&b[4], tag);
    put32(&b[8], length);
    b[12] = toHost ? 0x80 : 0x00;
    b[13] = 0;
    b[14] = 1;
    b[15] = toHost ? 0x02 : 0x01;
    return b;
}

// 16-byte command header with a correct checksum.
inline Bytes header(uint8_t code, uint32_t length)
{
    Bytes b(16, 0);
    memcpy(b.data(), "UPGC", 4);
    b[4] = 1;
    b[5] = 1;
    b[6] = code;
    put32(&b[8], length);
    put32(&b[12], get32(&b[0]) + get32(&b[4]) + get32(&b[8]));
    return b;
}

struct Host {
    libusb_context *ctx = nullptr;
    libusb_device_handle *h = nullptr;
    uint8_t out = 0x01, in = 0x81;
    uint32_t tag = 0;
    unsigned timeout = 2000;
    int lastError = 0;   // libusb result of the last failing transfer
    std::string where;   // which phase failed

    int xfer(uint8_t ep, uint8_t *data, int len, int *done)
    {
        *done = 0;
        return libusb_bulk_transfer(h, ep, data, len, done, timeout);
    }

    bool fail(const char *phase, int rc)
    {
        lastError = rc;
        where = phase;
        return false;
    }

    // One host-to-board packet: wrapper, data, status. True when all three
    // phases passed and the status wrapper echoed the tag.
    bool send(const Bytes &data) { return send(data.data(), data.size()); }
    bool send(const uint8_t *data, size_t len)
    {
        lastError = 0;
        Bytes w = cbw(tag++, uint32_t(len), false);
        int n = 0;
        int rc = xfer(out, w.data(), 31, &n);
        if (rc || n != 31)
            return fail("cbw", rc);
        rc = xfer(out, const_cast<uint8_t *>(data), int(len), &n);
        if (rc || size_t(n) != len)
            return fail("data", rc);
        return status(uint32_t(tag - 1));
    }

    // One board-to-host packet of exactly `len` bytes.
    bool recv(Bytes *data, size_t len)
    {
        lastError = 0;
        Bytes w = cbw(tag++, uint32_t(len), true);
        int n = 0;
        int rc = xfer(out, w.data(), 31, &n);
        if (rc || n != 31)
            return fail("cbw", rc);
        data->assign(len, 0);
        rc = xfer(in, data->data(), int(len), &n);
        if (rc || size_t(n) != len)
            return fail("data", rc);
        return status(uint32_t(tag - 1));
    }

    Bytes lastCsw;
    bool status(uint32_t expectTag)
    {
        lastCsw.assign(13, 0);
        int n = 0;
        const int rc = xfer(in, lastCsw.data(), 13, &n);
        if (rc || n != 13)
            return fail("csw", rc);
        if (memcmp(lastCsw.data(), "USBS", 4) != 0 || get32(&lastCsw[4]) != expectTag)
            return fail("csw-match", 0);
        return true;
    }

    // Response header: status byte and data length.
    bool response(uint8_t *statusOut, uint32_t *lengthOut)
    {
        Bytes r;
        if (!recv(&r, 16))
            return false;
        *statusOut = r[7];
        *lengthOut = get32(&r[8]);
        return true;
    }

    // A command without arguments whose answer is a response header and
    // `dlen` bytes (skipped when the board announces 0).
    bool simple(uint8_t code, uint8_t *st, Bytes *answer)
    {
        uint32_t dlen = 0;
        if (!send(header(code, 0)) || !response(st, &dlen))
            return false;
        answer->clear();
        return dlen == 0 || recv(answer, dlen);
    }

    // Header, then argument packets, then the response header.
    bool command(uint8_t code, uint32_t length, const std::vector<Bytes> &packets, uint8_t *st,
                 uint32_t *dlen)
    {
        if (!send(header(code, length)))
            return false;
        for (const Bytes &p : packets)
            if (!send(p))
                return false;
        return response(st, dlen);
    }

    // A 4-byte answer (block size, CRC, results); false unless the board
    // announced exactly 4 bytes.
    bool query32(uint8_t code, uint8_t *st, uint32_t *value)
    {
        Bytes a;
        if (!simple(code, st, &a) || a.size() != 4)
            return false;
        *value = get32(a.data());
        return true;
    }

    // Mode byte of the hardware info; -1 on failure.
    int mode()
    {
        uint8_t st = 0;
        Bytes hw;
        if (!simple(0x00, &st, &hw) || hw.size() != 108)
            return -1;
        return hw[40];
    }

    // Data phase of one FWC: 0x12 start with `size`, then `data` (already
    // padded by the caller) in packets of `packet` bytes. The closing
    // response is left to the caller.
    bool sendFwcData(uint32_t size, const Bytes &data, size_t packet)
    {
        if (!send(header(0x12, size)))
            return false;
        for (size_t off = 0; off < data.size(); off += packet)
            if (!send(data.data() + off, std::min(packet, data.size() - off)))
                return false;
        return true;
    }
};

// Builds a 512-byte FWC entry.
inline Bytes fwcEntry(const std::string &name, uint32_t size, uint32_t crc,
                      const std::string &attributes = "burn run", const std::string &part = "")
{
    Bytes e(512, 0);
    memcpy(e.data(), "FWC", 3);
    memcpy(&e[8], name.data(), std::min<size_t>(name.size(), 63));
    memcpy(&e[72], part.data(), std::min<size_t>(part.size(), 63));
    put32(&e[140], size);
    put32(&e[144], crc);
    memcpy(&e[152], attributes.data(), std::min<size_t>(attributes.size(), 63));
    return e;
}

} // namespace rawhost
