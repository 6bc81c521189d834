// zelflash: burns one board from the command line with the upgrade library's
// own procedures (see "zelflash --help").

#include "flash_board.h"
#include "flash_options.h"
#include "flash_output.h"
#include "flash_status.h"

#include "image_upgrade.h"
#include "upg_device.h"
#include "zelupg_cmd.h"

#include "veldmark_version.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace
{

// The exit status and the one line that names a failed procedure's kind.
FlashStatus reportFailure(FlashOutput &out, const std::string &what, const BoardInfo &board,
                          const std::string &image)
{
    switch (upg_last_failure()) {
    case UPG_FAIL_IMAGE:
        out.error("invalid image \"" + image + "\"");
        return FlashBadImage;
    case UPG_FAIL_LOST:
        out.error("the board at " + board.port + " was lost");
        return FlashBoardLost;
    case UPG_FAIL_VERIFY:
        out.error("the board at " + board.port + " failed verification");
        return FlashVerifyFailed;
    default:
        out.error(what + " failed on the board at " + board.port);
        return FlashFailed;
    }
}

const char *modeName(int mode)
{
    return mode == ZELUPG_MODE_UPGRADE  ? "upgrade"
           : mode == ZELUPG_MODE_LOADER ? "loader"
                                        : "unknown";
}

FlashStatus listCommand(FlashOutput &out)
{
    const std::vector<BoardInfo> boards = listBoards(true);
    if (boards.empty()) {
        out.error("no board in burn mode");
        return FlashNoBoard;
    }
    for (const BoardInfo &b : boards)
        std::printf("%-20s %-8s address %u\n", b.port.c_str(), modeName(b.mode), b.address);
    return FlashOk;
}

FlashStatus boardCommand(const FlashOptions &o, FlashOutput &out)
{
    upg_device *dev = nullptr;
    BoardInfo board;
    const FlashStatus found = openBoard(o.port, out, &dev, &board);
    if (found != FlashOk)
        return found;
    upg_port port = {};
    const std::string image = o.arguments.empty() ? std::string() : o.arguments[0];
    FlashStatus status = FlashOk;
    if (o.command == "media") {
        uint8_t *answer = nullptr;
        const int len = get_storage_media(dev, &answer, &port);
        out.finish();
        if (len > 0)
            std::printf("%.*s\n", len, reinterpret_cast<const char *>(answer));
        else
            status = reportFailure(out, "reading the storage media", board, image);
        std::free(answer);
    } else {
        int ret;
        if (o.command == "burn")
            ret = image_do_upgrade(dev, image.c_str(), &port);
        else if (o.command == "uboot")
            ret = run_to_uboot(dev, image.c_str(), &port);
        else
            ret = image_do_ramboot(dev, o.arguments[1].c_str(), o.address, image.c_str(), &port);
        out.finish();
        if (ret != 0)
            status = reportFailure(out, o.command, board, image);
        else
            out.info(o.command + " done on the board at " + board.port);
    }
    upg_dev_close(dev);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("zelflash " VELDMARK_VERSION);
        return FlashOk;
    }
    const FlashOptions o = parseFlashOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (o.help) {
        std::fputs(flashHelp(o.command), stdout);
        return FlashOk;
    }
    if (!o.error.empty()) {
        const std::string name = o.command.empty() ? "zelflash" : "zelflash " + o.command;
        std::fprintf(stderr, "%s: %s (see \"%s --help\")\n", name.c_str(), o.error.c_str(),
                     name.c_str());
        return FlashUsage;
    }

    FlashOutput out(o.verbosity, isatty(STDOUT_FILENO) != 0);
    out.install();
    // With -v the rescans after a restart say what they try.
    upg_set_verbose_scan(o.verbosity == Verbosity::Verbose);
    if (libzelupg_init() != 0) {
        out.error("cannot use USB (libusb could not be initialised)");
        return FlashFailed;
    }
    const FlashStatus status = o.command == "list" ? listCommand(out) : boardCommand(o, out);
    libzelupg_exit();
    return status;
}
