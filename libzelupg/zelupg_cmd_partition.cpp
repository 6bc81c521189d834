// The partition-table command: the board's partition string, parsed into a list.

#include "partition.h"
#include "zelupg_cmd.h"
#include "zelupg_cmd_wire.h"
#include "zelupg_log.h"
#include "zelupg_trans.h"

#include <cstdlib>

namespace {
constexpr uint8_t kGetPartitionTable = 0x17;
// Boards expect 4 here although the 68-byte request follows.
constexpr uint32_t kHeaderLength = 4;
}  // namespace

// 0x17, header length 4: the 68-byte request as one packet. Answer: response
// status 0 and at most one packet of partition string, parsed with first start
// 0 into *head (free with zelupg_free_partition). Returns 0; -1 also when the
// string does not parse.
int zelupg_cmd_get_partition_table(upg_device *dev, zelupg_part_table_req req,
                                   upg_partition **head)
{
    if (!dev || !head) {
        upg_err("Invalid args");
        return ZELUPG_EINVAL;
    }
    *head = nullptr;
    if (zelupg_cmd_begin(__func__, dev, kGetPartitionTable, kHeaderLength) < 0)
        return ZELUPG_EFAIL;
    int ret = zelupg_trans_send_pkt(dev, req.bytes, sizeof(req.bytes));
    if (ret != int(sizeof(req.bytes))) {
        upg_err("Send ARGS failed. ret = %d, siz = %d", ret, int(sizeof(req.bytes)));
        return ZELUPG_EFAIL;
    }
    zelupg_resp resp;
    if (zelupg_cmd_read_resp_ok(__func__, dev, &resp, "RESP status is not ok") < 0)
        return ZELUPG_EFAIL;
    if (resp.data_len > zelupg_get_max_packet()) {
        upg_err("RESP data length is not ok");
        return ZELUPG_EFAIL;
    }
    uint8_t *text = nullptr;
    ret = zelupg_cmd_read_answer(__func__, dev, resp.data_len, &text);
    if (ret == ZELUPG_ENOMEM) {
        upg_err("No mem");
        return ZELUPG_ENOMEM;
    }
    if (ret < 0)
        return ZELUPG_EFAIL;
    *head = zelupg_new_partition(reinterpret_cast<const char *>(text), 0);
    std::free(text);
    if (!*head) {
        upg_err("Get partition table failed.");
        return ZELUPG_EFAIL;
    }
    return 0;
}
