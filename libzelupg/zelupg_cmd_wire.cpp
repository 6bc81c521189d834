#include "zelupg_cmd_wire.h"
#include "zelupg_le.h"
#include "zelupg_log.h"
#include "zelupg_trans.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {
constexpr uint32_t kMagic = 0x43475055;  // "UPGC"

// Splits len bytes into packets of exactly the limit and one shorter
// remainder; move(offset, count) moves one packet and returns the transport's
// result.
template <typename Move>
bool move_blocks(uint32_t len, int *ret, Move move)
{
    const uint32_t limit = zelupg_get_max_packet();
    *ret = 0;
    if (limit == 0)
        return len == 0;
    for (uint32_t done = 0; done < len;) {
        uint32_t n = len - done < limit ? len - done : limit;
        *ret = move(done, n);
        if (*ret != int(n))
            return false;
        done += n;
    }
    return true;
}
}  // namespace

void zelupg_cmd_header_encode(uint8_t *out, uint8_t code, uint32_t data_len)
{
    std::memset(out, 0, ZELUPG_CMD_HEADER_SIZE);
    zelupg_put_le32(out, kMagic);
    out[4] = 0x01;
    out[5] = 0x01;
    out[6] = code;
    zelupg_put_le32(out + 8, data_len);
    zelupg_put_le32(out + 12, kMagic + zelupg_get_le32(out + 4) + data_len);
}

int zelupg_cmd_send_header(upg_device *dev, uint8_t code, uint32_t data_len)
{
    uint8_t hdr[ZELUPG_CMD_HEADER_SIZE];
    zelupg_cmd_header_encode(hdr, code, data_len);
    return zelupg_trans_send_pkt(dev, hdr, sizeof(hdr));
}

int zelupg_cmd_begin(const char *fn, upg_device *dev, uint8_t code, uint32_t data_len)
{
    int ret = zelupg_cmd_send_header(dev, code, data_len);
    if (ret != ZELUPG_CMD_HEADER_SIZE) {
        upg_err_as(fn, "Send command failed. ret = %d, siz = %d", ret, ZELUPG_CMD_HEADER_SIZE);
        return -1;
    }
    return 0;
}

int zelupg_cmd_recv_resp(upg_device *dev, zelupg_resp *resp)
{
    uint8_t raw[ZELUPG_RESP_HEADER_SIZE];
    int ret = zelupg_trans_recv_pkt(dev, raw, sizeof(raw));
    *resp = zelupg_resp{};
    if (ret == ZELUPG_RESP_HEADER_SIZE) {
        resp->status = raw[7];
        resp->data_len = zelupg_get_le32(raw + 8);
    }
    return ret;
}

int zelupg_cmd_read_resp(const char *fn, upg_device *dev, zelupg_resp *resp)
{
    int ret = zelupg_cmd_recv_resp(dev, resp);
    if (ret != ZELUPG_RESP_HEADER_SIZE) {
        upg_err_as(fn, "Read RESP failed. ret = %d, siz = %d", ret, ZELUPG_RESP_HEADER_SIZE);
        return -1;
    }
    return 0;
}

int zelupg_cmd_read_resp_ok(const char *fn, upg_device *dev, zelupg_resp *resp,
                            const char *status_msg)
{
    if (zelupg_cmd_read_resp(fn, dev, resp) < 0)
        return -1;
    if (resp->status != 0) {
        upg_err_as(fn, "%s", status_msg);
        return -1;
    }
    return 0;
}

int zelupg_cmd_send_u32(upg_device *dev, uint32_t value)
{
    uint8_t raw[4];
    zelupg_put_le32(raw, value);
    return zelupg_trans_send_pkt(dev, raw, sizeof(raw));
}

bool zelupg_cmd_send_blocks(upg_device *dev, const void *data, uint32_t len, int *ret)
{
    const auto *p = static_cast<const uint8_t *>(data);
    return move_blocks(len, ret, [&](uint32_t at, uint32_t n) {
        return zelupg_trans_send_pkt(dev, p + at, n);
    });
}

bool zelupg_cmd_recv_blocks(upg_device *dev, void *buf, uint32_t len, int *ret)
{
    auto *p = static_cast<uint8_t *>(buf);
    return move_blocks(len, ret, [&](uint32_t at, uint32_t n) {
        return zelupg_trans_recv_pkt(dev, p + at, n);
    });
}

int zelupg_cmd_read_answer(const char *fn, upg_device *dev, uint32_t len, uint8_t **out)
{
    auto *buf = static_cast<uint8_t *>(std::calloc(size_t(len) + 1, 1));
    if (!buf)
        return -2;
    int ret = len > 0 ? zelupg_trans_recv_pkt(dev, buf, len) : 0;
    if (ret != int(len)) {
        upg_err_as(fn, "Read data failed. ret = %d, siz = %d", ret, int(len));
        std::free(buf);
        return -1;
    }
    *out = buf;
    return int(len);
}

bool zelupg_cmd_len_ok(uint32_t len)
{
    return len <= uint32_t(INT_MAX);
}
