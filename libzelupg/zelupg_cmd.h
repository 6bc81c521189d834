#pragma once
// The upgrade command set. Every command starts with a 16-byte command header
// ("UPGC", 0x01, 0x01, code, 0, data length, checksum) sent as one packet,
// follows with its own argument and data packets, and most are answered by a
// 16-byte response header (status at byte 7, data length at byte 8).
//
// Return convention: 0 or a byte count on success; ZELUPG_EFAIL on a failed
// exchange or a bad answer, ZELUPG_ENOMEM, ZELUPG_EINVAL for a null device or
// required pointer, ZELUPG_ENOMETA for FWC data before an accepted FWC meta.
// Buffers handed to the caller are allocated with malloc; the caller frees them.

#include "fwc_rules.h"

#include <cstdint>

struct upg_device;
struct upg_partition;

enum {
    ZELUPG_EFAIL = -1,
    ZELUPG_ENOMEM = -2,
    ZELUPG_EINVAL = -3,
    ZELUPG_ENOMETA = -4,
};

enum {
    ZELUPG_HWINFO_SIZE = 108,
    // Byte of the hardware info that tells the board's mode.
    ZELUPG_HWINFO_MODE = 40,
    ZELUPG_MODE_LOADER = 0,
    ZELUPG_MODE_UPGRADE = 1,
    ZELUPG_UPG_CFG_SIZE = 32,
    ZELUPG_FWC_META_WIRE_SIZE = 512,
    ZELUPG_PART_TABLE_REQ_SIZE = 68,
    ZELUPG_READ_FWC_REQ_SIZE = 184,
    // 64-bit size field of the FWC read-back request.
    ZELUPG_READ_FWC_REQ_SIZE_FIELD = 112,
};

// The opaque request of the partition-table command, passed by value.
struct zelupg_part_table_req {
    uint8_t bytes[ZELUPG_PART_TABLE_REQ_SIZE];
};

// 0x00: no arguments; answer of exactly 108 bytes into hwinfo. Returns 0.
int zelupg_cmd_get_hwinfo(upg_device *dev, uint8_t *hwinfo);

// 0x01: no arguments; answer of at most one packet into a new buffer stored in
// *out (null on failure). Returns its length.
int zelupg_cmd_get_traceinfo(upg_device *dev, uint8_t **out);

// 0x02: address and length (8 bytes), then data in packets of the limit;
// response status must be 0. Returns len.
int zelupg_cmd_write(upg_device *dev, uint32_t addr, const void *data, uint32_t len);

// 0x03: address and length (8 bytes); response status 0 announcing len bytes,
// then read in packets of the limit into buf. Returns len.
int zelupg_cmd_read(upg_device *dev, uint32_t addr, void *buf, uint32_t len);

// 0x04: the 32-bit value. Returns 0 when the response status is 0.
int zelupg_cmd_exec_u32(upg_device *dev, uint32_t value);

// 0x05: text length (32-bit), then the text without its NUL as one packet.
// Returns 0 when the response status is 0; a text above the limit is refused.
int zelupg_cmd_run_shell(upg_device *dev, const char *text);

// 0x06: length (32-bit), then data in packets of the limit. Returns 0 when the
// response status is 0.
int zelupg_cmd_send_blob(upg_device *dev, const void *data, uint32_t len);

// 0x07: no arguments; response status not looked at. Returns 0.
int zelupg_cmd_nop(upg_device *dev);

// 0x08: the 32-bit value; response status 0 announcing 4 bytes, read into out4.
// Returns 0.
int zelupg_cmd_query_u32(upg_device *dev, uint32_t value, uint8_t *out4);

// 0x09: the 32-bit value. Returns 0 when the response status is 0.
int zelupg_cmd_set_u32(upg_device *dev, uint32_t value);

// 0x0A: the value 32, then the 32-byte configuration; response status 0. Returns 0.
int zelupg_cmd_set_upg_cfg(upg_device *dev, const uint8_t *cfg);

// 0x0B: the value 32, then 32 zero bytes; response status 0. Returns 0.
int zelupg_cmd_set_upg_end(upg_device *dev);

// 0x10: the 512-byte FWC meta entry as it is stored in the image; response
// status 0, after which FWC data commands are accepted. Returns 0.
int zelupg_cmd_set_fwc_meta(upg_device *dev, const uint8_t *entry);

// 0x11: no arguments; answer of 4 bytes. Returns the board's block size
// itself, so a board answering 0 yields 0.
int zelupg_cmd_get_block_size(upg_device *dev);

// 0x12: header carrying the FWC size; nothing else, no answer. Returns 0.
int zelupg_cmd_send_fwc_data_start(upg_device *dev, uint32_t fwc_size);

// Data of 0x12 in packets of the limit; no answer. Returns len.
int zelupg_cmd_send_fwc_data_update(upg_device *dev, const void *data, uint32_t len);

// End of 0x12: response status 0. Returns 0.
int zelupg_cmd_send_fwc_data_final(upg_device *dev);

// 0x13, 0x14, 0x15: no arguments; answer of 4 bytes into *out, which is 0
// until the answer arrives. Return 0.
int zelupg_cmd_get_fwc_crc(upg_device *dev, uint32_t *out);
int zelupg_cmd_get_fwc_burn_result(upg_device *dev, uint32_t *out);
int zelupg_cmd_get_fwc_run_result(upg_device *dev, uint32_t *out);

// 0x16: no arguments; answer of 1 to limit bytes into a new buffer stored in
// *out (null on failure). Returns its length.
int zelupg_cmd_get_storage_media(upg_device *dev, uint8_t **out);

// 0x17: header length 4 (boards expect it, although 68 bytes follow), then the
// request as one packet; response status 0 and at most one packet of partition
// string, parsed into a list stored in *head (null on failure). Returns 0.
int zelupg_cmd_get_partition_table(upg_device *dev, zelupg_part_table_req req,
                                   upg_partition **head);

// 0x18: the 184-byte request as one packet; response status 0 announcing the
// request's size field. Returns 0.
int zelupg_cmd_read_fwc_data_start(upg_device *dev, const uint8_t *req);

// Data of 0x18 in packets of the limit into buf. Returns len.
int zelupg_cmd_read_fwc_data(upg_device *dev, void *buf, uint32_t len);

// Asks the hardware info; upgrade mode raises the packet limit to 65536,
// loader mode sets it to 2048. *mode is 1 for upgrade mode, else 0. Returns 0
// or the hardware-info command's code.
int zelupg_get_device_status(upg_device *dev, int *mode);

// Forgets any accepted FWC meta entry.
void zelupg_cmd_clear_fwc_meta_sent(void);
