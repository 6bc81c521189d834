// Board information, memory, command line and configuration commands.

#include "zelupg_cmd.h"
#include "zelupg_cmd_wire.h"
#include "zelupg_le.h"
#include "zelupg_log.h"
#include "zelupg_trans.h"

#include <cinttypes>
#include <cstring>

namespace {

enum : uint8_t {
    kGetHwinfo = 0x00,
    kGetTraceinfo = 0x01,
    kWrite = 0x02,
    kRead = 0x03,
    kExecU32 = 0x04,
    kRunShell = 0x05,
    kSendBlob = 0x06,
    kNop = 0x07,
    kQueryU32 = 0x08,
    kSetU32 = 0x09,
    kSetUpgCfg = 0x0A,
    kSetUpgEnd = 0x0B,
};

// Sends the header and the 8-byte address/length arguments of 0x02 and 0x03.
// Returns the transport's result for the arguments, or -1 when the header failed.
int send_addr_len(const char *fn, upg_device *dev, uint8_t code, uint32_t hdr_len,
                  uint32_t addr, uint32_t len)
{
    if (zelupg_cmd_begin(fn, dev, code, hdr_len) < 0)
        return -1;
    uint8_t args[8];
    zelupg_put_le32(args, addr);
    zelupg_put_le32(args + 4, len);
    return zelupg_trans_send_pkt(dev, args, sizeof(args));
}

// Header of length 4, the 32-bit value, then the response header.
int send_value(const char *fn, upg_device *dev, uint8_t code, uint32_t value, zelupg_resp *resp)
{
    if (zelupg_cmd_begin(fn, dev, code, 4) < 0)
        return ZELUPG_EFAIL;
    if (zelupg_cmd_send_u32(dev, value) != 4) {
        upg_err_as(fn, "Send args failed.");
        return ZELUPG_EFAIL;
    }
    return zelupg_cmd_read_resp(fn, dev, resp);
}

// Header of length 36, the value 32, the 32-byte configuration, then a
// response whose status must be 0.
int send_upg_cfg(const char *fn, upg_device *dev, uint8_t code, const uint8_t *cfg)
{
    if (zelupg_cmd_begin(fn, dev, code, 4 + ZELUPG_UPG_CFG_SIZE) < 0)
        return ZELUPG_EFAIL;
    if (zelupg_cmd_send_u32(dev, ZELUPG_UPG_CFG_SIZE) != 4) {
        upg_err_as(fn, "Send args failed.");
        return ZELUPG_EFAIL;
    }
    if (zelupg_trans_send_pkt(dev, cfg, ZELUPG_UPG_CFG_SIZE) != ZELUPG_UPG_CFG_SIZE) {
        upg_err_as(fn, "Send data failed.");
        return ZELUPG_EFAIL;
    }
    zelupg_resp resp;
    if (zelupg_cmd_read_resp_ok(fn, dev, &resp, "RESP status is not ok.") < 0)
        return ZELUPG_EFAIL;
    return 0;
}

}  // namespace

// 0x00, header length 0. Answer: 108 bytes of hardware info.
int zelupg_cmd_get_hwinfo(upg_device *dev, uint8_t *hwinfo)
{
    if (!dev || !hwinfo)
        return ZELUPG_EINVAL;
    zelupg_resp resp;
    if (zelupg_cmd_begin(__func__, dev, kGetHwinfo, 0) < 0 ||
        zelupg_cmd_read_resp(__func__, dev, &resp) < 0)
        return ZELUPG_EFAIL;
    if (resp.data_len != ZELUPG_HWINFO_SIZE) {
        upg_err("RESP data is size is not correct.");
        return ZELUPG_EFAIL;
    }
    int ret = zelupg_trans_recv_pkt(dev, hwinfo, ZELUPG_HWINFO_SIZE);
    if (ret != ZELUPG_HWINFO_SIZE) {
        upg_err("Read data failed. ret = %d, siz = %d", ret, ZELUPG_HWINFO_SIZE);
        return ZELUPG_EFAIL;
    }
    return 0;
}

// 0x01, header length 0. Answer: at most one packet of trace text, refused
// before reading when the board announces more.
int zelupg_cmd_get_traceinfo(upg_device *dev, uint8_t **out)
{
    if (!dev || !out)
        return ZELUPG_EINVAL;
    *out = nullptr;
    zelupg_resp resp;
    if (zelupg_cmd_begin(__func__, dev, kGetTraceinfo, 0) < 0 ||
        zelupg_cmd_read_resp(__func__, dev, &resp) < 0)
        return ZELUPG_EFAIL;
    if (resp.data_len > zelupg_get_max_packet()) {
        upg_err("RESP data length is not expected.");
        return ZELUPG_EFAIL;
    }
    return zelupg_cmd_read_answer(__func__, dev, resp.data_len, out);
}

// 0x02, header length len + 8: address and length, then the data in packets
// of the limit. Answer: response status 0. Returns len.
int zelupg_cmd_write(upg_device *dev, uint32_t addr, const void *data, uint32_t len)
{
    if (!dev || (!data && len > 0) || !zelupg_cmd_len_ok(len))
        return ZELUPG_EINVAL;
    int ret = send_addr_len(__func__, dev, kWrite, len + 8, addr, len);
    if (ret < 0)
        return ZELUPG_EFAIL;
    if (ret != 8) {
        upg_err("Send ARGS failed. ret = %d, siz = %d", ret, 8);
        return ZELUPG_EFAIL;
    }
    if (!zelupg_cmd_send_blocks(dev, data, len, &ret)) {
        upg_err("Send out data length is not expected. ret = %d", ret);
        return ZELUPG_EFAIL;
    }
    zelupg_resp resp;
    if (zelupg_cmd_read_resp_ok(__func__, dev, &resp, "RESP status is not ok") < 0)
        return ZELUPG_EFAIL;
    return int(len);
}

// 0x03, header length 8: address and length. Answer: response status 0
// announcing len bytes, then the data in packets of the limit. Returns len.
int zelupg_cmd_read(upg_device *dev, uint32_t addr, void *buf, uint32_t len)
{
    if (!dev || (!buf && len > 0) || !zelupg_cmd_len_ok(len))
        return ZELUPG_EINVAL;
    int ret = send_addr_len(__func__, dev, kRead, 8, addr, len);
    if (ret < 0)
        return ZELUPG_EFAIL;
    if (ret != 8) {
        upg_err("Send args failed.");
        return ZELUPG_EFAIL;
    }
    zelupg_resp resp;
    if (zelupg_cmd_read_resp_ok(__func__, dev, &resp, "RESP status is not ok.") < 0)
        return ZELUPG_EFAIL;
    if (resp.data_len != len) {
        upg_err("RESP data length is not matched.");
        return ZELUPG_EFAIL;
    }
    if (!zelupg_cmd_recv_blocks(dev, buf, len, &ret)) {
        upg_err("Recv data length is not expected. ret = %d", ret);
        return ZELUPG_EFAIL;
    }
    return int(len);
}

// 0x04, header length 4: the value. Answer: response status 0. Returns 0.
int zelupg_cmd_exec_u32(upg_device *dev, uint32_t value)
{
    if (!dev)
        return ZELUPG_EINVAL;
    zelupg_resp resp;
    if (send_value(__func__, dev, kExecU32, value, &resp) < 0 || resp.status != 0)
        return ZELUPG_EFAIL;
    return 0;
}

// 0x05, header length text length + 4: the text length, then the text
// without its NUL as one packet. Answer: response status 0. Returns 0.
int zelupg_cmd_run_shell(upg_device *dev, const char *text)
{
    if (!dev || !text)
        return ZELUPG_EINVAL;
    const size_t len = std::strlen(text);
    if (len > zelupg_get_max_packet()) {
        upg_err("Shell text of %" PRIu64 " bytes does not fit in one packet", uint64_t(len));
        return ZELUPG_EFAIL;
    }
    if (zelupg_cmd_begin(__func__, dev, kRunShell, uint32_t(len) + 4) < 0)
        return ZELUPG_EFAIL;
    if (zelupg_cmd_send_u32(dev, uint32_t(len)) != 4) {
        upg_err("Send args failed.");
        return ZELUPG_EFAIL;
    }
    if (zelupg_trans_send_pkt(dev, text, uint32_t(len)) != int(len)) {
        upg_err("Send data failed.");
        return ZELUPG_EFAIL;
    }
    zelupg_resp resp;
    if (zelupg_cmd_read_resp(__func__, dev, &resp) < 0 || resp.status != 0)
        return ZELUPG_EFAIL;
    return 0;
}

// 0x06, header length len + 4: the length, then the data in packets of the
// limit. Answer: response status 0. Returns 0.
int zelupg_cmd_send_blob(upg_device *dev, const void *data, uint32_t len)
{
    if (!dev || (!data && len > 0) || !zelupg_cmd_len_ok(len))
        return ZELUPG_EINVAL;
    if (zelupg_cmd_begin(__func__, dev, kSendBlob, len + 4) < 0)
        return ZELUPG_EFAIL;
    if (zelupg_cmd_send_u32(dev, len) != 4) {
        upg_err("Send args failed.");
        return ZELUPG_EFAIL;
    }
    int ret;
    if (!zelupg_cmd_send_blocks(dev, data, len, &ret)) {
        upg_err("Send out data length is not expected. ret = %d", ret);
        return ZELUPG_EFAIL;
    }
    zelupg_resp resp;
    if (zelupg_cmd_read_resp(__func__, dev, &resp) < 0 || resp.status != 0)
        return ZELUPG_EFAIL;
    return 0;
}

// 0x07, header length 0. Answer: a response header, whatever its status. Returns 0.
int zelupg_cmd_nop(upg_device *dev)
{
    if (!dev)
        return ZELUPG_EINVAL;
    zelupg_resp resp;
    if (zelupg_cmd_begin(__func__, dev, kNop, 0) < 0 ||
        zelupg_cmd_read_resp(__func__, dev, &resp) < 0)
        return ZELUPG_EFAIL;
    return 0;
}

// 0x08, header length 4: the value. Answer: response status 0 announcing 4
// bytes, then those bytes into out4. Returns 0.
int zelupg_cmd_query_u32(upg_device *dev, uint32_t value, uint8_t *out4)
{
    if (!dev || !out4)
        return ZELUPG_EINVAL;
    zelupg_resp resp;
    if (send_value(__func__, dev, kQueryU32, value, &resp) < 0)
        return ZELUPG_EFAIL;
    if (resp.status != 0) {
        upg_err("RESP status is not ok.");
        return ZELUPG_EFAIL;
    }
    if (resp.data_len != 4) {
        upg_err("RESP data length is not expected.");
        return ZELUPG_EFAIL;
    }
    int ret = zelupg_trans_recv_pkt(dev, out4, 4);
    if (ret != 4) {
        upg_err("Read data failed. ret = %d, siz = %d", ret, 4);
        return ZELUPG_EFAIL;
    }
    return 0;
}

// 0x09, header length 4: the value. Answer: response status 0. Returns 0.
int zelupg_cmd_set_u32(upg_device *dev, uint32_t value)
{
    if (!dev)
        return ZELUPG_EINVAL;
    zelupg_resp resp;
    if (send_value(__func__, dev, kSetU32, value, &resp) < 0 || resp.status != 0)
        return ZELUPG_EFAIL;
    return 0;
}

// 0x0A, header length 36: the value 32, then the configuration. Answer:
// response status 0. Returns 0.
int zelupg_cmd_set_upg_cfg(upg_device *dev, const uint8_t *cfg)
{
    if (!dev || !cfg)
        return ZELUPG_EINVAL;
    return send_upg_cfg(__func__, dev, kSetUpgCfg, cfg);
}

// 0x0B, header length 36: the value 32, then 32 zero bytes. Answer: response
// status 0. Returns 0.
int zelupg_cmd_set_upg_end(upg_device *dev)
{
    if (!dev)
        return ZELUPG_EINVAL;
    const uint8_t zeros[ZELUPG_UPG_CFG_SIZE] = {};
    return send_upg_cfg(__func__, dev, kSetUpgEnd, zeros);
}

int zelupg_get_device_status(upg_device *dev, int *mode)
{
    if (!mode)
        return ZELUPG_EINVAL;
    *mode = ZELUPG_MODE_LOADER;
    uint8_t hwinfo[ZELUPG_HWINFO_SIZE];
    int rc = zelupg_cmd_get_hwinfo(dev, hwinfo);
    if (rc != 0)
        return rc;
    if (hwinfo[ZELUPG_HWINFO_MODE] == ZELUPG_MODE_UPGRADE) {
        zelupg_set_max_packet(ZELUPG_PACKET_LIMIT_UPGRADE);
        *mode = ZELUPG_MODE_UPGRADE;
    } else {
        zelupg_set_max_packet(ZELUPG_PACKET_LIMIT_LOADER);
    }
    return 0;
}
