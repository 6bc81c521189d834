// zelflash: burns one board from the command line with the upgrade library's
// own procedures (see "zelflash help").

#include "flash_board.h"
#include "flash_image.h"
#include "flash_json.h"
#include "flash_options.h"
#include "flash_output.h"
#include "flash_platform.h"
#include "flash_status.h"

#include "image_upgrade.h"
#include "libuart.h"
#include "upg_device.h"
#include "zelupg_cmd.h"

#include <libusb.h>
#include "veldmark_version.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

const char *failureName(int status)
{
    switch (status) {
    case FlashOk:
        return "none";
    case FlashUsage:
        return "usage";
    case FlashNoBoard:
        return "no_board";
    case FlashSeveralBoards:
        return "several_boards";
    case FlashBadImage:
        return "bad_image";
    case FlashBoardLost:
        return "lost";
    case FlashVerifyFailed:
        return "verify";
    case FlashFailed:
        return "failed";
    default:
        return "stopped";
    }
}

// The exit status and the one line that names a failed procedure's kind.
int reportFailure(FlashOutput &out, const std::string &what, const BoardInfo &board,
                  const std::string &image)
{
    if (upg_last_failure() == UPG_FAIL_STOPPED || stopSignal() != 0) {
        const int sig = stopSignal();
        const std::string where = out.position();
        out.error(what + " stopped by " + stopSignalName(sig) +
                  (where.empty() ? "" : " in " + where) + "; the board at " + board.port +
                  " was released");
        return stopExitStatus(sig);
    }
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

const char *modeName(const BoardInfo &b)
{
    if (b.openResult != 0)
        return b.openResult == LIBUSB_ERROR_BUSY ? "busy" : "denied";
    return b.mode == ZELUPG_MODE_UPGRADE  ? "upgrade"
           : b.mode == ZELUPG_MODE_LOADER ? "loader"
                                          : "unknown";
}

int listCommand(const FlashOptions &o, FlashOutput &out)
{
    if (o.serial) {
        for (const std::string &port : serialPorts())
            std::printf("%s\n", port.c_str());
        return FlashOk;
    }
    const std::vector<BoardInfo> boards = listBoards(true);
    if (boards.empty()) {
        out.error("no board in burn mode");
        return FlashNoBoard;
    }
    for (const BoardInfo &b : boards)
        std::printf("%-20s %-8s address %u\n", b.port.c_str(), modeName(b), b.address);
    for (const BoardInfo &b : boards)
        if (b.openResult != 0)
            out.error("the board at " + b.port + ": " + openProblem(b.openResult));
    return FlashOk;
}

int checkCommand(const FlashOptions &o, FlashOutput &out)
{
    const std::string &image = o.arguments[0];
    ImageCheck check;
    const bool good = checkImage(image, LengthRule::WithEx, true, &check);
    for (size_t i = 0; i < check.components.size(); i++) {
        const ComponentCheck &c = check.components[i];
        const bool match = c.actual == c.crc;
        if (out.json())
            out.event("component", JsonObject()
                                       .add("index", int(i))
                                       .add("name", c.name)
                                       .add("size", c.size)
                                       .add("crc", crcText(c.crc))
                                       .add("actual_crc", crcText(c.actual))
                                       .add("ok", match));
        else
            out.info(std::string(match ? "ok   " : "BAD  ") + c.name + "  size " +
                     std::to_string(c.size) + "  crc " + crcText(c.crc) +
                     (match ? "" : " (bytes give " + crcText(c.actual) + ")"));
    }
    if (!good) {
        out.error("image \"" + image + "\" " + check.error);
        return FlashBadImage;
    }
    out.info("image \"" + image + "\": " + std::to_string(check.components.size()) +
             " components, every CRC matches");
    return FlashOk;
}

int boardCommand(const FlashOptions &o, FlashOutput &out)
{
    const std::string image = o.arguments.empty() ? std::string() : o.arguments[0];
    if (!image.empty()) {
        // Before any board is touched: a wrong image must not leave one claimed.
        ImageCheck check;
        if (!checkImage(image,
                        o.command == "uboot" ? LengthRule::WithoutEx : LengthRule::WithEx,
                        false, &check)) {
            out.error("image \"" + image + "\" " + check.error);
            return FlashBadImage;
        }
    }
    upg_device *dev = nullptr;
    BoardInfo board;
    const int found = openBoard(o.port, o.waitSeconds, out, &dev, &board);
    if (found != FlashOk)
        return stopSignal() ? stopExitStatus(stopSignal()) : found;
    out.event("board", JsonObject()
                           .add("port", board.port)
                           .add("transport", board.serial ? "serial" : "usb"));
    upg_port port = {};
    int status = FlashOk;
    if (o.command == "media") {
        uint8_t *answer = nullptr;
        const int len = get_storage_media(dev, &answer, &port);
        out.finish();
        if (len > 0) {
            const std::string media(reinterpret_cast<const char *>(answer), size_t(len));
            if (out.json())
                out.event("media", JsonObject().add("media", media));
            else
                std::printf("%s\n", media.c_str());
        } else {
            status = reportFailure(out, "reading the storage media", board, image);
        }
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
    if (o.version) {
        std::printf("zelflash %s\n", VELDMARK_VERSION);
        return FlashOk;
    }
    if (!o.error.empty()) {
        const std::string name = o.command.empty() ? "zelflash" : "zelflash " + o.command;
        std::fprintf(stderr, "%s: %s (see \"zelflash help%s\")\n", name.c_str(), o.error.c_str(),
                     o.command.empty() ? "" : (" " + o.command).c_str());
        return FlashUsage;
    }
    if (o.help) {
        std::fputs(flashHelp(o.command), stdout);
        return FlashOk;
    }

    installStopHandlers();
    FlashOutput out(o.verbosity, standardOutputIsTerminal(), o.json);
    out.install();
    out.event("start", JsonObject()
                           .add("program", "zelflash")
                           .add("version", VELDMARK_VERSION)
                           .add("command", o.command)
                           .add("image", o.arguments.empty() ? "" : o.arguments[0])
                           .add("port", o.port));
    // With -v the rescans after a restart say what they try.
    upg_set_verbose_scan(o.verbosity == Verbosity::Verbose);
    int status;
    if (o.command == "check") {
        status = checkCommand(o, out);
    } else if (libzelupg_init() != 0) {
        out.error("cannot use USB (libusb could not be initialised)");
        status = FlashFailed;
    } else {
        status = o.command == "list" ? listCommand(o, out) : boardCommand(o, out);
        libzelupg_exit();
    }
    JsonObject result;
    result.add("exit_code", status).add("failure", failureName(status));
    if (stopSignal() != 0)
        result.add("stopped_in", out.position());
    out.event("result", result);
    return status;
}
