// Fuzz target: every command of the command set against a scripted board
// whose answers come from the input. The board stands in for libusb's bulk
// transfer: host-to-board transfers are taken (or, when the input says so,
// fail), and board-to-host transfers are filled from the input. A status
// wrapper is either built to match the packet (so the fuzzer reaches the
// command layer) or taken raw from the input.

#include "fuzz_support.h"

#include "fwc_rules.h"
#include "partition.h"
#include "upg_device.h"
#include "zelupg_cmd.h"
#include "zelupg_le.h"
#include "zelupg_trans.h"

#include <libusb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

struct ScriptedBoard {
    const uint8_t *data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    uint32_t tag = 0;
    bool dataInNext = false; // the last wrapper announced a board-to-host data phase

    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    void fill(uint8_t *out, int len)
    {
        for (int i = 0; i < len; i++)
            out[i] = byte();
    }
};

ScriptedBoard g_board;

void checkPartitions(const upg_partition *head)
{
    for (const upg_partition *p = head; p; p = p->next) {
        if (p->name[UPG_PART_NAME_MAX] != '\0')
            __builtin_trap();
    }
}

// A buffer the command hands over must be as long as it says, no longer than
// one packet, and absent on failure.
void checkHandedBuffer(int (*command)(upg_device *, uint8_t **), upg_device *dev)
{
    uint8_t *buffer = nullptr;
    const int ret = command(dev, &buffer);
    if (ret > 0) {
        if (!buffer || uint32_t(ret) > zelupg_get_max_packet())
            __builtin_trap();
        volatile uint8_t last = buffer[ret - 1];
        (void)last;
    } else if (ret < 0 && buffer) {
        __builtin_trap();
    }
    std::free(buffer);
}

} // namespace

extern "C" int libusb_bulk_transfer(libusb_device_handle *, unsigned char endpoint,
                                    unsigned char *data, int length, int *transferred, unsigned int)
{
    ScriptedBoard &b = g_board;
    const uint8_t control = b.byte();
    *transferred = 0;
    if (control == 0xFF)
        return LIBUSB_ERROR_PIPE;
    if (!(endpoint & LIBUSB_ENDPOINT_IN)) {
        if (length == 31 && std::memcmp(data, "USBC", 4) == 0) {
            b.tag = zelupg_get_le32(data + 4);
            b.dataInNext = (data[12] & 0x80) && zelupg_get_le32(data + 8) > 0;
        }
        *transferred = control == 0xFE ? length / 2 : length;
        return 0;
    }
    if (b.dataInNext) {
        b.dataInNext = false;
        b.fill(data, length);
        *transferred = control == 0xFE ? int(b.byte()) % (length + 1) : length;
        return 0;
    }
    if (length == 13 && !(control & 1)) {
        std::memset(data, 0, 13);
        std::memcpy(data, "USBS", 4);
        zelupg_put_le32(data + 4, b.tag);
    } else {
        b.fill(data, length);
    }
    *transferred = length;
    return 0;
}

extern "C" const char *libusb_strerror(int)
{
    return "scripted board";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_setup();
    g_board = ScriptedBoard{data, size};

    upg_device dev{};
    dev.transport = UPG_TRANSPORT_USB;
    dev.usb = reinterpret_cast<libusb_device_handle *>(&g_board);
    dev.ep_out = 0x01;
    dev.ep_in = 0x81;
    zelupg_set_max_packet(g_board.byte() & 1 ? ZELUPG_PACKET_LIMIT_UPGRADE
                                             : ZELUPG_PACKET_LIMIT_LOADER);
    zelupg_cmd_clear_fwc_meta_sent();

    uint8_t hwinfo[ZELUPG_HWINFO_SIZE];
    zelupg_cmd_get_hwinfo(&dev, hwinfo);
    int mode = -1;
    if (zelupg_get_device_status(&dev, &mode) == 0 && mode != 0 && mode != 1)
        __builtin_trap();

    checkHandedBuffer(zelupg_cmd_get_traceinfo, &dev);
    checkHandedBuffer(zelupg_cmd_get_storage_media, &dev);

    std::vector<uint8_t> buffer(3000);
    zelupg_cmd_read(&dev, 0x1000, buffer.data(), uint32_t(buffer.size()));
    zelupg_cmd_write(&dev, 0x1000, buffer.data(), uint32_t(buffer.size()));
    uint8_t four[4];
    zelupg_cmd_query_u32(&dev, 7, four);
    zelupg_cmd_exec_u32(&dev, 1);
    zelupg_cmd_set_u32(&dev, 2);
    zelupg_cmd_run_shell(&dev, "reset");
    zelupg_cmd_send_blob(&dev, buffer.data(), 100);
    zelupg_cmd_nop(&dev);
    const uint8_t cfg[ZELUPG_UPG_CFG_SIZE] = {};
    zelupg_cmd_set_upg_cfg(&dev, cfg);
    zelupg_cmd_set_upg_end(&dev);

    // One FWC as the burns drive it, judged by the shared rules.
    uint8_t entry[ZELUPG_FWC_META_WIRE_SIZE] = {};
    zelupg_cmd_set_fwc_meta(&dev, entry);
    const int block = zelupg_cmd_get_block_size(&dev);
    const uint32_t chunk =
        zelupg_fwc_block_size_ok(block) ? zelupg_fwc_chunk_size(uint32_t(block)) : 0;
    if (zelupg_fwc_block_size_ok(block) && (chunk == 0 || chunk % uint32_t(block) != 0))
        __builtin_trap();
    zelupg_cmd_send_fwc_data_start(&dev, 5000);
    zelupg_cmd_send_fwc_data_update(&dev, buffer.data(), uint32_t(buffer.size()));
    zelupg_cmd_send_fwc_data_final(&dev);
    uint32_t value = 0;
    zelupg_cmd_get_fwc_crc(&dev, &value);
    zelupg_cmd_get_fwc_burn_result(&dev, &value);
    zelupg_cmd_get_fwc_run_result(&dev, &value);

    upg_partition *head = nullptr;
    zelupg_cmd_get_partition_table(&dev, zelupg_part_table_req{}, &head);
    checkPartitions(head);
    zelupg_free_partition(head);

    uint8_t request[ZELUPG_READ_FWC_REQ_SIZE] = {};
    zelupg_put_le32(request + ZELUPG_READ_FWC_REQ_SIZE_FIELD, 2500);
    if (zelupg_cmd_read_fwc_data_start(&dev, request) == 0)
        zelupg_cmd_read_fwc_data(&dev, buffer.data(), 2500);
    return 0;
}
