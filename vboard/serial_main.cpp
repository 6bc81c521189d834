// vboard-serial: one virtual serial board on a pseudo-terminal, for hosts in
// other processes (the Windows build under wine, which opens the terminal as
// a COM port). Prints "path <slave path>", serves until its input closes,
// then prints what the line carried and what the board took:
// "frames <host> <board> connects <n> components <started> complete <whole>".
#include "vboard_serial.h"

#include <cstdio>
#include <unistd.h>

int main()
{
    vboard::SerialConfig config;
    config.board.startInUpgradeMode = true;
    vboard::SerialBoard board(config);
    if (!board.ok()) {
        std::fprintf(stderr, "vboard-serial: %s\n", board.error().c_str());
        return 1;
    }
    std::printf("path %s\n", board.path().c_str());
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    const vboard::SerialReport report = board.report();
    const vboard::BoardReport received = board.boardReport();
    size_t started = 0, whole = 0;
    for (const vboard::FwcRecord &fwc : received.fwcs) {
        started += fwc.started;
        whole += fwc.complete;
    }
    std::printf("frames %zu %zu connects %d components %zu complete %zu\n", report.hostFrames.size(),
                report.boardFrames.size(), report.connects, started, whole);
    return 0;
}
