#pragma once
// Finding the one board a zelflash command works on: on USB by port text, or
// the only board in burn mode; on a serial port by its path (or COMn).

#include "flash_output.h"
#include "flash_status.h"

#include <cstdint>
#include <string>
#include <vector>

struct upg_device;

struct BoardInfo {
    std::string port; // port text, e.g. "1:2:4", or the serial port
    bool serial = false;
    uint8_t bus = 0;
    uint8_t portPath[7] = {};
    uint8_t address = 0;
    int openResult = 0; // 0, or the libusb error that keeps it from being used
    int mode = -1;      // 0 loader, 1 upgrade firmware, -1 unknown
};

// Every board in burn mode on USB in the system's order, those that cannot be
// opened too (openResult says why); with askMode each usable one is asked
// for its mode.
std::vector<BoardInfo> listBoards(bool askMode);

// Why a board cannot be used, for a message: "held by another program", ...
std::string openProblem(int openResult);

// Opens the board at port (a USB port text or a serial port), or the only
// board in burn mode on USB when port is empty, waiting up to waitSeconds
// for it to appear. Returns FlashOk with *dev and *board set, or the
// failure's status after telling out why.
FlashStatus openBoard(const std::string &port, int waitSeconds, FlashOutput &out,
                      upg_device **dev, BoardInfo *board);
