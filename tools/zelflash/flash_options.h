#pragma once
// The command line of zelflash: a command, then its options and arguments.
//
//   zelflash list [-v|-q]
//   zelflash burn [-p PORT] [-v|-q] IMAGE
//   zelflash uboot [-p PORT] [-v|-q] IMAGE
//   zelflash ramboot [-p PORT] -a ADDRESS [-v|-q] IMAGE FWC
//   zelflash media [-p PORT] [-v|-q]

#include <cstdint>
#include <string>
#include <vector>

enum class Verbosity {
    Quiet,   // errors and the final line only
    Normal,  // and the library's operator text, its info messages and progress
    Verbose, // and the library's debug messages, with their function prefix
};

struct FlashOptions {
    std::string command; // "list", "burn", "uboot", "ramboot", "media"; empty for the main help
    bool help = false;
    Verbosity verbosity = Verbosity::Normal;
    // Where the board is: a USB port text ("1:2:4"). Empty: the only board present.
    std::string port;
    bool hasAddress = false;
    uint32_t address = 0;
    std::vector<std::string> arguments;
    std::string error; // set when the command line is wrong
};

// Parses argv[1..]. Never fails outright: a wrong command line comes back with
// error set and the command as far as it was recognised.
FlashOptions parseFlashOptions(const std::vector<std::string> &args);

// The help text of a command, or the main help for an empty or unknown one.
const char *flashHelp(const std::string &command);
