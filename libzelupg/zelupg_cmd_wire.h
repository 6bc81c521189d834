#pragma once
// Pieces the commands are built from: the command header, the response
// header, and blocks of data moved in packets of the current limit. Messages
// are logged under the name of the command that calls (fn).

#include <cstdint>

struct upg_device;

enum {
    ZELUPG_CMD_HEADER_SIZE = 16,
    ZELUPG_RESP_HEADER_SIZE = 16,
};

// What the host reads from a response header; the rest is the board's own.
struct zelupg_resp {
    uint8_t status;
    uint32_t data_len;
};

// "UPGC", 0x01, 0x01, code, 0, data length, then the sum of the three words.
void zelupg_cmd_header_encode(uint8_t *out, uint8_t code, uint32_t data_len);

// Sends the command header. Returns the transport's result (16 on success).
int zelupg_cmd_send_header(upg_device *dev, uint8_t code, uint32_t data_len);

// Sends the command header; on failure logs "Send command failed. ret = %d,
// siz = %d" and returns -1, else 0.
int zelupg_cmd_begin(const char *fn, upg_device *dev, uint8_t code, uint32_t data_len);

// Receives and decodes a response header. Returns the transport's result.
int zelupg_cmd_recv_resp(upg_device *dev, zelupg_resp *resp);

// Receives the response header; on failure logs "Read RESP failed. ret = %d,
// siz = %d" and returns -1, else 0.
int zelupg_cmd_read_resp(const char *fn, upg_device *dev, zelupg_resp *resp);

// Receives the response header as zelupg_cmd_read_resp does, then fails
// with status_msg logged when its status is not 0.
int zelupg_cmd_read_resp_ok(const char *fn, upg_device *dev, zelupg_resp *resp,
                            const char *status_msg);

// Sends one 32-bit little-endian value as a packet. Returns the transport's result.
int zelupg_cmd_send_u32(upg_device *dev, uint32_t value);

// Moves len bytes in packets of exactly the limit and one shorter remainder.
// True when every packet moved; else *ret holds the failing packet's result.
bool zelupg_cmd_send_blocks(upg_device *dev, const void *data, uint32_t len, int *ret);
bool zelupg_cmd_recv_blocks(upg_device *dev, void *buf, uint32_t len, int *ret);

// Receives an answer of len bytes (at most one packet) into a new buffer of
// len + 1 bytes, the last one 0 so text answers end in a NUL. Returns len and
// stores the buffer, or -2 when memory runs out, or -1 after logging "Read
// data failed. ret = %d, siz = %d".
int zelupg_cmd_read_answer(const char *fn, upg_device *dev, uint32_t len, uint8_t **out);

// Byte counts travel as 32-bit values but are returned as int.
bool zelupg_cmd_len_ok(uint32_t len);
