#include "flash_options.h"

#include "upg_port_text.h"

#include <cerrno>
#include <cstdlib>

namespace
{

const char kMainHelp[] =
    "usage: zelflash COMMAND [OPTIONS] ARGS\n"
    "\n"
    "Burns one board in burn mode (USB 33c3:6677, or on a serial port) from the\n"
    "command line.\n"
    "\n"
    "commands:\n"
    "  list [--serial]              list the boards in burn mode (the serial ports)\n"
    "  burn [-p PORT] IMAGE         burn every component of IMAGE into a board\n"
    "  uboot [-p PORT] IMAGE        run a board up to its upgrade firmware\n"
    "  ramboot [-p PORT] -a ADDRESS IMAGE FWC\n"
    "                               load one component into board memory and start it\n"
    "  media [-p PORT]              print the board's storage media\n"
    "  check IMAGE                  check every component's CRC, without a board\n"
    "  help [COMMAND]               this text, or the options of one command\n"
    "\n"
    "PORT is a USB port text (bus, then \":\" and the port numbers from the root\n"
    "hub down, e.g. 1:2:4, as the console shows it) or a serial port (a device\n"
    "path such as /dev/ttyUSB0, or COM3 on Windows).\n"
    "\n"
    "Run \"zelflash COMMAND --help\" for the options of one command,\n"
    "\"zelflash --version\" for the version.\n"
    "\n"
    "exit status: 0 done, 1 failed, 2 wrong command line, 3 no board, 4 several\n"
    "boards and none chosen, 5 invalid image, 6 board lost, 7 verification failed,\n"
    "130 stopped by Ctrl-C, 143 stopped by SIGTERM\n";

const char kListHelp[] =
    "usage: zelflash list [--serial] [-v|-q]\n"
    "\n"
    "Prints one line per board in burn mode on USB: its port text, its mode\n"
    "(\"loader\" while it runs its first-stage loader, \"upgrade\" once it runs its\n"
    "upgrade firmware, \"busy\" or \"denied\" when it cannot be opened) and its bus\n"
    "address.\n"
    "\n"
    "  --serial   list the serial ports present instead, one path a line\n"
    "  -v         also show the library's debug messages\n"
    "  -q         show errors only\n";

#define BOARD_OPTIONS                                                                      \
    "  -p, --port PORT   the board at this USB port text (e.g. 1:2:4) or on this\n"        \
    "                    serial port (/dev/ttyUSB0, COM3); default: the only board\n"      \
    "                    in burn mode on USB\n"                                            \
    "  --wait SECONDS    wait up to SECONDS for the board to appear\n"                     \
    "  --json            one JSON object a line on standard output (see README)\n"         \
    "  -v                also show the library's debug messages and each rescan\n"         \
    "  -q                show errors only\n"

const char kBurnHelp[] =
    "usage: zelflash burn [-p PORT] [--wait SECONDS] [--json] [-v|-q] IMAGE\n"
    "\n"
    "Checks IMAGE, then burns every component, in table order, into the board and\n"
    "closes the upgrade. The board restarts after its loader stages and is found\n"
    "again at the same port. On a terminal a progress bar shows speed and time\n"
    "left; otherwise progress comes as plain lines. Ctrl-C stops at the next\n"
    "chunk and says where.\n"
    "\n" BOARD_OPTIONS;

const char kUbootHelp[] =
    "usage: zelflash uboot [-p PORT] [--wait SECONDS] [--json] [-v|-q] IMAGE\n"
    "\n"
    "Sends the loader stages that lead IMAGE's table (components named\n"
    "\"updater...\", not \"image.updater.env\") and nothing else: enough to bring a\n"
    "board from its first-stage loader into its upgrade firmware.\n"
    "\n" BOARD_OPTIONS;

const char kRambootHelp[] =
    "usage: zelflash ramboot [-p PORT] [--wait SECONDS] [--json] -a ADDRESS [-v|-q] IMAGE FWC\n"
    "\n"
    "Runs the board up to its upgrade firmware, writes the component named exactly\n"
    "FWC into board memory at ADDRESS and starts it there with the board command\n"
    "\"ram_boot ADDRESS MEDIA-TYPE MEDIA-NUMBER\" (both from the image header).\n"
    "\n"
    "  -a, --address ADDRESS   load address, decimal or 0x-hexadecimal (required)\n" BOARD_OPTIONS;

const char kMediaHelp[] =
    "usage: zelflash media [-p PORT] [--wait SECONDS] [-v|-q]\n"
    "\n"
    "Prints the board's answer to the storage-media query. A board that is\n"
    "restarting is waited for once.\n"
    "\n" BOARD_OPTIONS;

const char kCheckHelp[] =
    "usage: zelflash check [--json] [-v|-q] IMAGE\n"
    "\n"
    "Checks IMAGE without a board: the header, the component table, and every\n"
    "component's bytes against the CRC its table entry gives. One line per\n"
    "component; exit status 0 when all match, 5 otherwise.\n"
    "\n"
    "  --json   one JSON object a line on standard output (see README)\n"
    "  -q       show errors only\n";

const char kHelpHelp[] =
    "usage: zelflash help [COMMAND]\n"
    "\n"
    "Prints the main help, or the options of COMMAND.\n";

bool takesPort(const std::string &command)
{
    return command != "list" && command != "check";
}

bool takesJson(const std::string &command)
{
    return command != "list";
}

bool isCommand(const std::string &command)
{
    return command == "list" || command == "burn" || command == "uboot" || command == "ramboot" ||
           command == "media" || command == "check";
}

// Whole seconds, 0 to a day.
bool parseSeconds(const std::string &text, int *out)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long v = std::strtol(text.c_str(), nullptr, 10);
    if (v > 86400)
        return false;
    *out = int(v);
    return true;
}

// Decimal or 0x-hexadecimal, 32 bits.
bool parseAddress(const std::string &text, uint32_t *out)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull)
        return false;
    *out = uint32_t(v);
    return true;
}

size_t argumentCount(const std::string &command)
{
    if (command == "burn" || command == "uboot" || command == "check")
        return 1;
    if (command == "ramboot")
        return 2;
    return 0;
}

} // namespace

const char *flashHelp(const std::string &command)
{
    if (command == "list")
        return kListHelp;
    if (command == "burn")
        return kBurnHelp;
    if (command == "uboot")
        return kUbootHelp;
    if (command == "ramboot")
        return kRambootHelp;
    if (command == "media")
        return kMediaHelp;
    if (command == "check")
        return kCheckHelp;
    if (command == "help")
        return kHelpHelp;
    return kMainHelp;
}

bool isSerialPortName(const std::string &port)
{
    return upg_port_is_serial(port.c_str()) != 0;
}

FlashOptions parseFlashOptions(const std::vector<std::string> &args)
{
    FlashOptions o;
    if (args.empty()) {
        o.error = "no command given";
        return o;
    }
    if (args[0] == "--version") {
        o.version = true;
        return o;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        o.help = true;
        return o;
    }
    if (args[0] == "help") {
        o.help = true;
        if (args.size() > 2)
            o.error = "help takes one COMMAND at most";
        else if (args.size() == 2 && !isCommand(args[1]) && args[1] != "help")
            o.error = "unknown command \"" + args[1] + "\"";
        else if (args.size() == 2)
            o.command = args[1];
        return o;
    }
    const std::string &command = args[0];
    if (!isCommand(command)) {
        o.error = "unknown command \"" + command + "\"";
        return o;
    }
    o.command = command;
    for (size_t i = 1; i < args.size(); i++) {
        const std::string &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h") {
            o.help = true;
            return o;
        } else if (a == "--version") {
            o.version = true;
            return o;
        } else if (a == "-v") {
            o.verbosity = Verbosity::Verbose;
        } else if (a == "-q") {
            o.verbosity = Verbosity::Quiet;
        } else if (a == "--json" && takesJson(command)) {
            o.json = true;
        } else if (a == "--serial" && command == "list") {
            o.serial = true;
        } else if ((a == "-p" || a == "--port") && takesPort(command)) {
            if (!hasValue || args[i + 1].empty()) {
                o.error = "option " + a + " needs a port";
                return o;
            }
            o.port = args[++i];
        } else if (a == "--wait" && takesPort(command)) {
            if (!hasValue || !parseSeconds(args[i + 1], &o.waitSeconds)) {
                o.error = "option --wait needs whole SECONDS (0 to 86400)";
                return o;
            }
            i++;
        } else if ((a == "-a" || a == "--address") && command == "ramboot") {
            if (!hasValue || !parseAddress(args[i + 1], &o.address)) {
                o.error = "option " + a + " needs an address (decimal or 0x-hexadecimal)";
                return o;
            }
            o.hasAddress = true;
            i++;
        } else if (a.size() > 1 && a[0] == '-') {
            o.error = "unknown option " + a;
            return o;
        } else {
            o.arguments.push_back(a);
        }
    }
    if (o.arguments.size() != argumentCount(command))
        o.error = command == "ramboot"     ? "expected IMAGE and FWC"
                  : argumentCount(command) ? "expected one IMAGE"
                                           : "takes no arguments";
    else if (command == "ramboot" && !o.hasAddress)
        o.error = "option -a ADDRESS is required";
    return o;
}
