#include "flash_options.h"

#include <cerrno>
#include <cstdlib>

namespace
{

const char kMainHelp[] =
    "usage: zelflash COMMAND [OPTIONS] ARGS\n"
    "\n"
    "Burns one board in burn mode (USB 33c3:6677) from the command line.\n"
    "\n"
    "commands:\n"
    "  list                         list the boards in burn mode\n"
    "  burn [-p PORT] IMAGE         burn every component of IMAGE into a board\n"
    "  uboot [-p PORT] IMAGE        run a board up to its upgrade firmware\n"
    "  ramboot [-p PORT] -a ADDRESS IMAGE FWC\n"
    "                               load one component into board memory and start it\n"
    "  media [-p PORT]              print the board's storage media\n"
    "\n"
    "Run \"zelflash COMMAND --help\" for the options of one command,\n"
    "\"zelflash --version\" for the version.\n"
    "\n"
    "exit status: 0 done, 1 failed, 2 wrong command line, 3 no board, 4 several\n"
    "boards and none chosen, 5 invalid image, 6 board lost, 7 verification failed\n";

const char kListHelp[] =
    "usage: zelflash list [-v|-q]\n"
    "\n"
    "Prints one line per board in burn mode: its port text, its mode (\"loader\"\n"
    "while it runs its first-stage loader, \"upgrade\" once it runs its upgrade\n"
    "firmware) and its bus address.\n"
    "\n"
    "  -v   also show the library's debug messages\n"
    "  -q   show errors only\n";

const char kBurnHelp[] =
    "usage: zelflash burn [-p PORT] [-v|-q] IMAGE\n"
    "\n"
    "Burns every component of IMAGE, in table order, into the board and closes the\n"
    "upgrade. The board restarts after its loader stages and is found again at the\n"
    "same port. On a terminal a progress bar shows speed and time left; otherwise\n"
    "progress comes as plain lines.\n"
    "\n"
    "  -p, --port PORT   the board at this port text (bus, then \":\" and the port\n"
    "                    numbers from the root hub down, e.g. 1:2:4, as the console\n"
    "                    shows it); default: the only board present\n"
    "  -v                also show the library's debug messages and each rescan\n"
    "  -q                show errors only\n";

const char kUbootHelp[] =
    "usage: zelflash uboot [-p PORT] [-v|-q] IMAGE\n"
    "\n"
    "Sends at most the first three components of IMAGE: enough to bring a board\n"
    "from its first-stage loader into its upgrade firmware.\n"
    "\n"
    "  -p, --port PORT   the board at this port text; default: the only board present\n"
    "  -v                also show the library's debug messages\n"
    "  -q                show errors only\n";

const char kRambootHelp[] =
    "usage: zelflash ramboot [-p PORT] -a ADDRESS [-v|-q] IMAGE FWC\n"
    "\n"
    "Runs the board up to its upgrade firmware, writes the component named exactly\n"
    "FWC into board memory at ADDRESS and starts it there with the board command\n"
    "\"ram_boot ADDRESS MEDIA-TYPE MEDIA-NUMBER\" (both from the image header).\n"
    "\n"
    "  -a, --address ADDRESS   load address, decimal or 0x-hexadecimal (required)\n"
    "  -p, --port PORT         the board at this port text; default: the only board\n"
    "  -v                      also show the library's debug messages\n"
    "  -q                      show errors only\n";

const char kMediaHelp[] =
    "usage: zelflash media [-p PORT] [-v|-q]\n"
    "\n"
    "Prints the board's answer to the storage-media query. A board that is\n"
    "restarting is waited for once.\n"
    "\n"
    "  -p, --port PORT   the board at this port text; default: the only board present\n"
    "  -v                also show the library's debug messages\n"
    "  -q                show errors only\n";

bool takesPort(const std::string &command)
{
    return command != "list";
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
    if (command == "burn" || command == "uboot")
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
    return kMainHelp;
}

FlashOptions parseFlashOptions(const std::vector<std::string> &args)
{
    FlashOptions o;
    if (args.empty()) {
        o.error = "no command given";
        return o;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        o.help = true;
        return o;
    }
    const std::string &command = args[0];
    if (command != "list" && command != "burn" && command != "uboot" && command != "ramboot" &&
        command != "media") {
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
        } else if (a == "-v") {
            o.verbosity = Verbosity::Verbose;
        } else if (a == "-q") {
            o.verbosity = Verbosity::Quiet;
        } else if ((a == "-p" || a == "--port") && takesPort(command)) {
            if (!hasValue) {
                o.error = "option " + a + " needs a port";
                return o;
            }
            o.port = args[++i];
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
