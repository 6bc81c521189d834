#pragma once
// Finding the one board a zelflash command works on.

#include "flash_output.h"
#include "flash_status.h"

#include <cstdint>
#include <string>
#include <vector>

struct upg_device;

struct BoardInfo {
    std::string port; // port text, e.g. "1:2:4"
    uint8_t bus = 0;
    uint8_t portPath[7] = {};
    uint8_t address = 0;
    int mode = -1; // 0 loader, 1 upgrade firmware, -1 unknown
};

// The boards in burn mode that could be opened, in the system's order; with
// askMode each one is asked for its mode.
std::vector<BoardInfo> listBoards(bool askMode);

// Opens the board at the port text, or the only board present when port is
// empty. Returns FlashOk with *dev and *board set, or the failure's status
// after telling out why.
FlashStatus openBoard(const std::string &port, FlashOutput &out, upg_device **dev,
                      BoardInfo *board);
