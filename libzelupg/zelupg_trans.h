#pragma once
// Packet transport: every packet travels as a 31-byte command wrapper, the
// data phase and a 13-byte status wrapper that must echo the wrapper's tag.

#include <cstdint>

struct upg_device;

enum {
    ZELUPG_PACKET_LIMIT_LOADER = 2048,
    ZELUPG_PACKET_LIMIT_UPGRADE = 65536,
    ZELUPG_TRANS_TIMEOUT_MS = 10000,
};

// Moves len bytes host to board in one packet. Returns len, or 0 on any
// failure (null device, len above the packet limit, transfer or wrapper error).
int zelupg_trans_send_pkt(upg_device *dev, const void *data, uint32_t len);

// Moves exactly len bytes board to host into buf in one packet. Returns len,
// or 0 on any failure.
int zelupg_trans_recv_pkt(upg_device *dev, void *buf, uint32_t len);

// Largest data phase of one packet; 2048 until the board reports upgrade mode.
void zelupg_set_max_packet(uint32_t bytes);
uint32_t zelupg_get_max_packet(void);

// Restarts the packet tag sequence shared by both directions at 0.
void zelupg_trans_reset_tag(void);
