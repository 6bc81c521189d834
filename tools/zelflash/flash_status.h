#pragma once
// Exit statuses of zelflash, one per kind of failure, so scripts can tell
// them apart.

enum FlashStatus {
    FlashOk = 0,
    FlashFailed = 1,        // the board refused or failed a command; USB access unusable
    FlashUsage = 2,         // wrong command line
    FlashNoBoard = 3,       // no board in burn mode, or none at the port asked for
    FlashSeveralBoards = 4, // several boards and no port chosen
    FlashBadImage = 5,      // the image cannot be read or is not valid
    FlashBoardLost = 6,     // the board stopped answering or did not come back
    FlashVerifyFailed = 7,  // CRC, burn or run result reported a failure
};
