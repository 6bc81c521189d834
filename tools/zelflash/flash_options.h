#pragma once
// The command line of zelflash: a command, then its options and arguments.
//
//   zelflash list [--serial] [-v|-q]
//   zelflash burn [-p PORT] [--wait S] [--json] [-v|-q] IMAGE
//   zelflash uboot [-p PORT] [--wait S] [--json] [-v|-q] IMAGE
//   zelflash ramboot [-p PORT] [--wait S] [--json] -a ADDRESS [-v|-q] IMAGE FWC
//   zelflash media [-p PORT] [--wait S] [-v|-q]
//   zelflash check [--json] [-v|-q] IMAGE
//   zelflash help [COMMAND]
//   zelflash --version

#include <cstdint>
#include <string>
#include <vector>

enum class Verbosity {
    Quiet,   // errors and the final line only
    Normal,  // and the library's operator text, its info messages and progress
    Verbose, // and the library's debug messages, with their function prefix
};

struct FlashOptions {
    // "list", "burn", "uboot", "ramboot", "media", "check"; empty for the main help
    std::string command;
    bool help = false;
    bool version = false;
    Verbosity verbosity = Verbosity::Normal;
    // Where the board is: a USB port text ("1:2:4") or a serial port (a device
    // path, or COMn). Empty: the only board in burn mode on USB.
    std::string port;
    bool hasAddress = false;
    uint32_t address = 0;
    bool json = false;   // one JSON object a line on standard output
    bool serial = false; // list: the serial ports instead of the boards
    int waitSeconds = 0; // how long to wait for the board to appear
    std::vector<std::string> arguments;
    std::string error; // set when the command line is wrong
};

// Parses argv[1..]. Never fails outright: a wrong command line comes back with
// error set and the command as far as it was recognised.
FlashOptions parseFlashOptions(const std::vector<std::string> &args);

// The help text of a command, or the main help for an empty or unknown one.
const char *flashHelp(const std::string &command);

// Whether a -p value names a serial port rather than a USB port text: a
// device path ("/dev/ttyUSB0", "/dev/serial/by-id/...") or "COM" and a number.
bool isSerialPortName(const std::string &port);
