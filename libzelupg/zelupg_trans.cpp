#include "zelupg_trans.h"
#include "libuart.h"
#include "upg_device.h"
#include "zelupg_le.h"
#include "zelupg_log.h"

#include <libusb.h>

#include <cstring>

namespace {

constexpr int kCbwSize = 31;
constexpr int kCswSize = 13;
constexpr uint8_t kFlagsOut = 0x00;
constexpr uint8_t kFlagsIn = 0x80;
constexpr uint8_t kBlockOut = 0x01;
constexpr uint8_t kBlockIn = 0x02;

uint32_t g_tag = 0;
uint32_t g_limit = ZELUPG_PACKET_LIMIT_LOADER;

// Command wrapper without its tag, which is taken only once the packet is accepted.
void fill_cbw(uint8_t *cbw, uint32_t len, uint8_t flags, uint8_t block)
{
    std::memset(cbw, 0, kCbwSize);
    std::memcpy(cbw, "USBC", 4);
    zelupg_put_le32(cbw + 8, len);
    cbw[12] = flags;
    cbw[13] = 0;  // LUN
    cbw[14] = 1;  // command block length
    cbw[15] = block;
}

// Takes the next tag into the wrapper; the counter advances even when the
// exchange then fails.
uint32_t take_tag(uint8_t *cbw)
{
    uint32_t tag = g_tag++;
    zelupg_put_le32(cbw + 4, tag);
    return tag;
}

bool csw_matches(const uint8_t *csw, uint32_t tag)
{
    return std::memcmp(csw, "USBS", 4) == 0 && zelupg_get_le32(csw + 4) == tag;
}

// One bulk transfer with the transport time-out; its result becomes the
// handle's last error.
int bulk(upg_device *dev, uint8_t ep, void *buf, uint32_t len, int *got)
{
    *got = 0;
    dev->last_error = libusb_bulk_transfer(dev->usb, ep, static_cast<unsigned char *>(buf),
                                           int(len), got, ZELUPG_TRANS_TIMEOUT_MS);
    return dev->last_error;
}

// USB and serial handles are carried; any other transport kind fails the packet.
bool transport_supported(const upg_device *dev, const char *func)
{
    if (dev->transport == UPG_TRANSPORT_USB || dev->transport == UPG_TRANSPORT_SERIAL)
        return true;
    upg_err_as(func, "Transport kind %u is not supported", dev->transport);
    return false;
}

// A serial exchange that went through the line whole but whose status did
// not match: no transfer error.
constexpr int kLineFine = -2;

// A serial exchange's outcome as the handle's last error, in libusb's
// terms so that callers tell a board gone from a refusal the same way on
// both transports: a line that broke off while the connection still stands
// (a board ending the phase early, as it does when it restarts) is an
// input-output error; a board that no longer answers the handshake at all
// is no device.
int serial_result(upg_device *dev, int rc)
{
    const int ret = rc < 0 ? 0 : rc;
    if (rc >= 0 || rc == kLineFine)
        dev->last_error = LIBUSB_SUCCESS;
    else
        dev->last_error = libuart_state(dev->uart) == UART_STATE_CONNECTED
                              ? LIBUSB_ERROR_IO
                              : LIBUSB_ERROR_NO_DEVICE;
    return ret;
}

int uart_send(upg_device *dev, const void *data, int len)
{
    return libuart_send_within(dev->uart, data, len, ZELUPG_TRANS_TIMEOUT_MS);
}

// The three phases over a serial connection. Returns len, -1 when the line
// failed, kLineFine when the status did not match.
int serial_send_pkt(upg_device *dev, const uint8_t *cbw, uint32_t tag, const void *data,
                    uint32_t len)
{
    int rc = uart_send(dev, cbw, kCbwSize);
    if (rc != kCbwSize) {
        upg_err_as("zelupg_trans_send_pkt", "CBW return %d", rc);
        return -1;
    }
    if (len > 0) {
        rc = uart_send(dev, data, int(len));
        if (rc != int(len)) {
            upg_err_as("zelupg_trans_send_pkt", "Send data return %d", rc);
            return -1;
        }
        upg_dbg_as("zelupg_trans_send_pkt", "ok");
    }
    uint8_t csw[kCswSize];
    rc = libuart_recv(dev->uart, csw, kCswSize, ZELUPG_TRANS_TIMEOUT_MS);
    if (rc != kCswSize) {
        upg_err_as("zelupg_trans_send_pkt", "CSW return %d", rc);
        return -1;
    }
    upg_dbg_as("zelupg_trans_send_pkt", "  -> ok");
    if (!csw_matches(csw, tag)) {
        upg_err_as("zelupg_trans_send_pkt", "CSW is not matched, Sig %#x, Tag got %#x, expect %#x",
                   zelupg_get_le32(csw), zelupg_get_le32(csw + 4), tag);
        return kLineFine;
    }
    return int(len);
}

int serial_recv_pkt(upg_device *dev, const uint8_t *cbw, uint32_t tag, void *buf, uint32_t len)
{
    int rc = uart_send(dev, cbw, kCbwSize);
    if (rc != kCbwSize) {
        upg_err_as("zelupg_trans_recv_pkt", "CBW return %d", rc);
        return -1;
    }
    if (len > 0) {
        rc = libuart_recv(dev->uart, buf, int(len), ZELUPG_TRANS_TIMEOUT_MS);
        if (rc != int(len)) {
            upg_err_as("zelupg_trans_recv_pkt", "Recv data return %d", rc);
            return -1;
        }
    }
    uint8_t csw[kCswSize];
    rc = libuart_recv(dev->uart, csw, kCswSize, ZELUPG_TRANS_TIMEOUT_MS);
    if (rc != kCswSize) {
        upg_err_as("zelupg_trans_recv_pkt", "CSW return %d", rc);
        return -1;
    }
    if (!csw_matches(csw, tag)) {
        upg_err_as("zelupg_trans_recv_pkt", "CSW is not matched, Sig %#x, Tag %#x/%#x",
                   zelupg_get_le32(csw), zelupg_get_le32(csw + 4), tag);
        return kLineFine;
    }
    return int(len);
}

}  // namespace

void zelupg_set_max_packet(uint32_t bytes)
{
    g_limit = bytes;
}

uint32_t zelupg_get_max_packet(void)
{
    return g_limit;
}

void zelupg_trans_reset_tag(void)
{
    g_tag = 0;
}

int zelupg_trans_send_pkt(upg_device *dev, const void *data, uint32_t len)
{
    uint8_t cbw[kCbwSize];
    fill_cbw(cbw, len, kFlagsOut, kBlockOut);
    if (!dev || (len > 0 && !data))
        return 0;
    if (len > g_limit) {
        upg_err("Data length is over size.");
        return 0;
    }
    uint32_t tag = take_tag(cbw);
    if (!transport_supported(dev, __func__))
        return 0;
    if (dev->transport == UPG_TRANSPORT_SERIAL) {
        const int rc = serial_send_pkt(dev, cbw, tag, data, len);
        return serial_result(dev, rc);
    }

    int got;
    upg_dbg("Send CBW, tag 0x%x", tag);
    int rc = bulk(dev, dev->ep_out, cbw, kCbwSize, &got);
    if (rc != 0 || got != kCbwSize) {
        upg_err("CBW tag 0x%x return %d, size %d, %s", tag, rc, got, libusb_strerror(rc));
        return 0;
    }
    upg_dbg("  -> ok");

    if (len > 0) {
        upg_dbg("Send data, len %d", int(len));
        // libusb only reads an OUT buffer.
        rc = bulk(dev, dev->ep_out, const_cast<void *>(data), len, &got);
        if (rc != 0 || got != int(len)) {
            upg_err("Send tag 0x%x return %d, size %d/%d, %s", tag, rc, got, int(len),
                    libusb_strerror(rc));
            return 0;
        }
        upg_dbg("  -> ok");
    }

    uint8_t csw[kCswSize];
    upg_dbg("Read CSW, tag 0x%x", tag);
    rc = bulk(dev, dev->ep_in, csw, kCswSize, &got);
    if (rc != 0 || got != kCswSize) {
        upg_err("CSW tag 0x%x return %d, size %d, %s", tag, rc, got, libusb_strerror(rc));
        return 0;
    }
    upg_dbg("  -> ok");
    if (!csw_matches(csw, tag)) {
        upg_err("CSW is not matched, Sig %#x, Tag got %#x, expect %#x", zelupg_get_le32(csw),
                zelupg_get_le32(csw + 4), tag);
        return 0;
    }
    return int(len);
}

int zelupg_trans_recv_pkt(upg_device *dev, void *buf, uint32_t len)
{
    uint8_t cbw[kCbwSize];
    fill_cbw(cbw, len, kFlagsIn, kBlockIn);
    if (!dev || (len > 0 && !buf) || len > g_limit)
        return 0;
    uint32_t tag = take_tag(cbw);
    if (!transport_supported(dev, __func__))
        return 0;
    if (dev->transport == UPG_TRANSPORT_SERIAL) {
        const int rc = serial_recv_pkt(dev, cbw, tag, buf, len);
        return serial_result(dev, rc);
    }

    int got;
    upg_dbg("Send CBW, tag 0x%x", tag);
    int rc = bulk(dev, dev->ep_out, cbw, kCbwSize, &got);
    if (rc != 0 || got != kCbwSize) {
        upg_err("CBW return %d, size %d, %s", rc, got, libusb_strerror(rc));
        return 0;
    }

    if (len > 0) {
        upg_dbg("Read data, len %d", int(len));
        rc = bulk(dev, dev->ep_in, buf, len, &got);
        if (rc != 0 || got != int(len)) {
            upg_err("Read return %d, len %d/%d, %s", rc, got, int(len), libusb_strerror(rc));
            return 0;
        }
    }

    uint8_t csw[kCswSize];
    upg_dbg("Read CSW, tag 0x%x", tag);
    rc = bulk(dev, dev->ep_in, csw, kCswSize, &got);
    if (rc != 0 || got != kCswSize) {
        upg_err("CSW return %d, size %d, %s", rc, got, libusb_strerror(rc));
        return 0;
    }
    if (!csw_matches(csw, tag)) {
        upg_err("CSW is not matched, Sig %#x, Tag %#x/%#x", zelupg_get_le32(csw),
                zelupg_get_le32(csw + 4), tag);
        return 0;
    }
    return int(len);
}
