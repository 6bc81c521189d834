// Firmware component commands: announce an FWC, stream its bytes, ask the
// board's results, and read components and storage information back.

#include "zelupg_cmd.h"
#include "zelupg_cmd_wire.h"
#include "zelupg_le.h"
#include "zelupg_log.h"
#include "zelupg_trans.h"

#include <cinttypes>
#include <climits>

namespace {

enum : uint8_t {
    kSetFwcMeta = 0x10,
    kGetBlockSize = 0x11,
    kSendFwcData = 0x12,
    kGetFwcCrc = 0x13,
    kGetFwcBurnResult = 0x14,
    kGetFwcRunResult = 0x15,
    kGetStorageMedia = 0x16,
    kReadFwcData = 0x18,
};

// Set by every accepted FWC meta entry; FWC data commands are refused until then.
bool g_fwc_meta_sent = false;

bool fwc_meta_sent(const char *fn)
{
    if (!g_fwc_meta_sent)
        upg_err_as(fn, "FWC Meta is not sent.");
    return g_fwc_meta_sent;
}

// 0x13..0x15, header length 0. Answer: 4 bytes into *out, which reads 0 until
// they arrive. what names the value in the failure message.
int get_fwc_value(const char *fn, upg_device *dev, uint8_t code, uint32_t *out, const char *what)
{
    if (!dev || !out) {
        upg_err_as(fn, "Invalid parameter.");
        return ZELUPG_EINVAL;
    }
    *out = 0;
    if (!fwc_meta_sent(fn))
        return ZELUPG_ENOMETA;
    int ret = zelupg_cmd_send_header(dev, code, 0);
    if (ret != ZELUPG_CMD_HEADER_SIZE) {
        upg_err_as(fn, "Send command failed. ret = %d", ret);
        upg_err_as(fn, "Send command failed. ret = %d, siz = %d", ret, ZELUPG_CMD_HEADER_SIZE);
        return ZELUPG_EFAIL;
    }
    zelupg_resp resp;
    ret = zelupg_cmd_recv_resp(dev, &resp);
    if (ret != ZELUPG_RESP_HEADER_SIZE) {
        upg_err_as(fn, "Recv resp failed, expect %d, got %d", ZELUPG_RESP_HEADER_SIZE, ret);
        return ZELUPG_EFAIL;
    }
    if (resp.data_len != 4) {
        upg_err_as(fn, "RESP data length is not 4, got %d", int(resp.data_len));
        return ZELUPG_EFAIL;
    }
    uint8_t raw[4];
    ret = zelupg_trans_recv_pkt(dev, raw, sizeof(raw));
    if (ret != 4) {
        upg_err_as(fn, "Recv %s failed, expect 4, got %d", what, ret);
        return ZELUPG_EFAIL;
    }
    *out = zelupg_get_le32(raw);
    return 0;
}

}  // namespace

void zelupg_cmd_clear_fwc_meta_sent(void)
{
    g_fwc_meta_sent = false;
}

// 0x10, header length 512: the FWC meta entry. Answer: response status 0.
// Returns 0.
int zelupg_cmd_set_fwc_meta(upg_device *dev, const uint8_t *entry)
{
    if (!dev || !entry)
        return ZELUPG_EINVAL;
    if (zelupg_cmd_begin(__func__, dev, kSetFwcMeta, ZELUPG_FWC_META_WIRE_SIZE) < 0)
        return ZELUPG_EFAIL;
    if (zelupg_trans_send_pkt(dev, entry, ZELUPG_FWC_META_WIRE_SIZE) !=
        ZELUPG_FWC_META_WIRE_SIZE) {
        upg_err("Send data failed.");
        return ZELUPG_EFAIL;
    }
    zelupg_resp resp;
    if (zelupg_cmd_read_resp_ok(__func__, dev, &resp, "RESP status is not ok.") < 0)
        return ZELUPG_EFAIL;
    g_fwc_meta_sent = true;
    return 0;
}

// 0x11, header length 0. Answer: 4 bytes of block size. Returns the block
// size as the board gave it.
int zelupg_cmd_get_block_size(upg_device *dev)
{
    if (!dev)
        return ZELUPG_EINVAL;
    if (zelupg_cmd_begin(__func__, dev, kGetBlockSize, 0) < 0)
        return ZELUPG_EFAIL;
    zelupg_resp resp;
    int ret = zelupg_cmd_recv_resp(dev, &resp);
    if (ret != ZELUPG_RESP_HEADER_SIZE) {
        upg_err("Read RESP failed. ret = %d, siz = %d", ret, ZELUPG_RESP_HEADER_SIZE);
        return ZELUPG_EFAIL;
    }
    if (resp.data_len != 4) {
        upg_err("RESP datga length is not expected. ret = %d", ret);
        return ZELUPG_EFAIL;
    }
    uint8_t raw[4];
    if (zelupg_trans_recv_pkt(dev, raw, sizeof(raw)) != 4) {
        upg_err("Read block size failed.");
        return ZELUPG_EFAIL;
    }
    const uint32_t size = zelupg_get_le32(raw);
    // A size this large would read as one of the negative error codes.
    if (size > uint32_t(INT_MAX)) {
        upg_err("Invalid block size %u", size);
        return ZELUPG_EFAIL;
    }
    return int(size);
}

// 0x12, header length the FWC size; nothing else is sent and nothing answered.
// Returns 0.
int zelupg_cmd_send_fwc_data_start(upg_device *dev, uint32_t fwc_size)
{
    if (!dev)
        return ZELUPG_EINVAL;
    if (!fwc_meta_sent(__func__))
        return ZELUPG_ENOMETA;
    if (zelupg_cmd_begin(__func__, dev, kSendFwcData, fwc_size) < 0)
        return ZELUPG_EFAIL;
    return 0;
}

// Data of 0x12 in packets of the limit, without a header or answer. Returns len.
int zelupg_cmd_send_fwc_data_update(upg_device *dev, const void *data, uint32_t len)
{
    if (!dev || (!data && len > 0) || !zelupg_cmd_len_ok(len))
        return ZELUPG_EINVAL;
    if (!fwc_meta_sent(__func__))
        return ZELUPG_ENOMETA;
    int ret;
    if (!zelupg_cmd_send_blocks(dev, data, len, &ret)) {
        upg_err("Send out data length is not expected. ret = %d", ret);
        return ZELUPG_EFAIL;
    }
    return int(len);
}

// End of 0x12: no header. Answer: response status 0. Returns 0.
int zelupg_cmd_send_fwc_data_final(upg_device *dev)
{
    if (!dev) {
        upg_err("Invalid handle.");
        return ZELUPG_EINVAL;
    }
    if (!fwc_meta_sent(__func__))
        return ZELUPG_ENOMETA;
    zelupg_resp resp;
    int ret = zelupg_cmd_recv_resp(dev, &resp);
    if (ret != ZELUPG_RESP_HEADER_SIZE) {
        upg_err("Recv resp failed, expect %d, got %d", ZELUPG_RESP_HEADER_SIZE, ret);
        return ZELUPG_EFAIL;
    }
    if (resp.status != 0) {
        upg_err("Recv resp status is not ok.");
        return ZELUPG_EFAIL;
    }
    return 0;
}

// 0x13: the CRC the board computed over the FWC.
int zelupg_cmd_get_fwc_crc(upg_device *dev, uint32_t *out)
{
    return get_fwc_value(__func__, dev, kGetFwcCrc, out, "CRC");
}

// 0x14: the board's burn result; zelupg_result_accepted tells success.
int zelupg_cmd_get_fwc_burn_result(upg_device *dev, uint32_t *out)
{
    return get_fwc_value(__func__, dev, kGetFwcBurnResult, out, "Result");
}

// 0x15: the board's run result; zelupg_result_accepted tells success.
int zelupg_cmd_get_fwc_run_result(upg_device *dev, uint32_t *out)
{
    return get_fwc_value(__func__, dev, kGetFwcRunResult, out, "Result");
}

// 0x16, header length 0. Answer: 1 to limit bytes of storage media
// information into a new buffer. Returns its length.
int zelupg_cmd_get_storage_media(upg_device *dev, uint8_t **out)
{
    if (!dev || !out)
        return ZELUPG_EINVAL;
    *out = nullptr;
    zelupg_resp resp;
    if (zelupg_cmd_begin(__func__, dev, kGetStorageMedia, 0) < 0 ||
        zelupg_cmd_read_resp(__func__, dev, &resp) < 0)
        return ZELUPG_EFAIL;
    if (resp.data_len == 0) {
        upg_err("no available storage media devices");
        return ZELUPG_EFAIL;
    }
    if (resp.data_len > zelupg_get_max_packet()) {
        upg_err("RESP data length is not expected.");
        return ZELUPG_EFAIL;
    }
    return zelupg_cmd_read_answer(__func__, dev, resp.data_len, out);
}

// 0x18, header length 184: the request as one packet. Answer: response status
// 0 announcing exactly the request's 64-bit size field. Returns 0.
int zelupg_cmd_read_fwc_data_start(upg_device *dev, const uint8_t *req)
{
    if (!dev || !req)
        return ZELUPG_EINVAL;
    if (zelupg_cmd_begin(__func__, dev, kReadFwcData, ZELUPG_READ_FWC_REQ_SIZE) < 0)
        return ZELUPG_EFAIL;
    int ret = zelupg_trans_send_pkt(dev, req, ZELUPG_READ_FWC_REQ_SIZE);
    if (ret != ZELUPG_READ_FWC_REQ_SIZE) {
        upg_err("Send ARGS failed. ret = %d, siz = %d", ret, ZELUPG_READ_FWC_REQ_SIZE);
        return ZELUPG_EFAIL;
    }
    zelupg_resp resp;
    if (zelupg_cmd_read_resp_ok(__func__, dev, &resp, "RESP status is not ok") < 0)
        return ZELUPG_EFAIL;
    const uint64_t size = zelupg_get_le64(req + ZELUPG_READ_FWC_REQ_SIZE_FIELD);
    if (size >> 32 != 0 || resp.data_len != size) {
        upg_err("resp.dDataLength:%u,part.siz:%" PRIu64, resp.data_len, size);
        upg_err("Error, recv size is illegal.");
        return ZELUPG_EFAIL;
    }
    return 0;
}

// Data of 0x18 in packets of the limit into buf. Returns len.
int zelupg_cmd_read_fwc_data(upg_device *dev, void *buf, uint32_t len)
{
    if (!dev || (!buf && len > 0) || !zelupg_cmd_len_ok(len))
        return ZELUPG_EINVAL;
    int ret;
    if (!zelupg_cmd_recv_blocks(dev, buf, len, &ret)) {
        upg_err("Read data size is not expected. ret = %d", ret);
        return ZELUPG_EFAIL;
    }
    return int(len);
}
