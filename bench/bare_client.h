#pragma once
// The harness without any host logic: one process that moves an FWC of the
// given size to a farm board in packet exchanges of the given size, straight
// through the libusb test library. Its CPU time (and the farm's)
// is what the harness itself costs for the bytes a worker burns.

#include <cstdint>
#include <string>

// Sends `bytes` bytes in packets of `packet` bytes to the board at position
// (e.g. "1:1") of the farm named by ZEL_VBOARD_FARM. Returns a process exit
// status: 0 when the board accepted every byte.
int runBareClient(const std::string &position, uint64_t bytes, uint32_t packet);
