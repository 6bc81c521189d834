#include "flash_board.h"

#include "flash_options.h"
#include "flash_platform.h"
#include "image_upgrade.h"
#include "libuart.h"
#include "upg_device.h"
#include "upg_port_text.h"
#include "zelupg_cmd.h"

#include <libusb.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace
{

using Clock = std::chrono::steady_clock;

// A board answers the connection handshake at once once its port is open.
constexpr int kSerialConnectMs = 3000;
constexpr auto kWaitPoll = std::chrono::milliseconds(200);
constexpr int kMaxBoards = 64;

std::string portText(uint8_t bus, const uint8_t *path)
{
    char text[UPG_PORT_TEXT_SIZE];
    return upg_port_text(text, sizeof(text), bus, path);
}

// Whether there is time left to wait for a board; sleeps a moment when there is.
bool waitMore(Clock::time_point deadline)
{
    if (Clock::now() >= deadline || upg_stop_requested())
        return false;
    std::this_thread::sleep_for(kWaitPoll);
    return true;
}

FlashStatus openSerial(const std::string &port, Clock::time_point deadline, FlashOutput &out,
                       upg_device **dev, BoardInfo *board)
{
    board->serial = true;
    board->port = port;
    while (!serialPortPresent(port) && waitMore(deadline)) {
    }
    if (!serialPortPresent(port)) {
        out.error("no serial port " + port);
        return FlashNoBoard;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    *dev = upg_uart_dev_connect(port.c_str(), left > kSerialConnectMs ? int(left)
                                                                       : kSerialConnectMs);
    if (!*dev) {
        out.error("no board answers on " + port + " (or the port cannot be opened)");
        return FlashNoBoard;
    }
    return FlashOk;
}

} // namespace

std::string openProblem(int openResult)
{
    switch (openResult) {
    case 0:
        return "";
    case LIBUSB_ERROR_BUSY:
        return "held by another program";
    case LIBUSB_ERROR_ACCESS:
        return UPG_USB_ACCESS_HINT;
    case LIBUSB_ERROR_NO_DEVICE:
        return "gone while it was looked at";
    default:
        return std::string("cannot be opened: ") + libusb_strerror(openResult);
    }
}

std::vector<BoardInfo> listBoards(bool askMode)
{
    std::vector<BoardInfo> boards;
    upg_usb_board found[kMaxBoards];
    const int count = upg_usb_dev_survey(found, kMaxBoards);
    for (int i = 0; i < count; i++) {
        BoardInfo b;
        b.bus = found[i].bus;
        std::memcpy(b.portPath, found[i].port_path, sizeof(b.portPath));
        b.address = found[i].dev_addr;
        b.openResult = found[i].open_result;
        b.port = portText(b.bus, b.portPath);
        boards.push_back(b);
    }
    for (BoardInfo &b : boards) {
        if (!askMode || b.openResult != 0)
            continue;
        upg_device *dev = upg_usb_dev_open(b.bus, b.portPath);
        int mode = 0;
        if (dev && zelupg_get_device_status(dev, &mode) == 0)
            b.mode = mode;
        upg_dev_close(dev);
    }
    return boards;
}

FlashStatus openBoard(const std::string &port, int waitSeconds, FlashOutput &out,
                      upg_device **dev, BoardInfo *board)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(waitSeconds);
    if (isSerialPortName(port))
        return openSerial(port, deadline, out, dev, board);
    if (port.empty()) {
        // Every board in burn mode counts, usable or not: "the only board"
        // must not quietly be the only one this program could open.
        std::vector<BoardInfo> boards = listBoards(false);
        while (boards.empty() && waitMore(deadline))
            boards = listBoards(false);
        if (boards.empty()) {
            out.error("no board in burn mode");
            return FlashNoBoard;
        }
        if (boards.size() > 1) {
            std::string ports;
            for (const BoardInfo &b : boards) {
                ports += (ports.empty() ? "" : ", ") + b.port;
                if (b.openResult != 0)
                    ports += " (" + openProblem(b.openResult) + ")";
            }
            out.error("several boards in burn mode (" + ports + "); choose one with --port");
            return FlashSeveralBoards;
        }
        *board = boards[0];
        if (board->openResult != 0) {
            out.error("the only board in burn mode, at " + board->port + ", cannot be used: " +
                      openProblem(board->openResult));
            return FlashNoBoard;
        }
    } else {
        if (upg_port_text_parse(port.c_str(), &board->bus, board->portPath) != 0) {
            out.error("\"" + port +
                      "\" is neither a port text (bus:port[:port...], e.g. 1:2:4) nor a serial "
                      "port (/dev/..., COMn)");
            return FlashUsage;
        }
        board->port = portText(board->bus, board->portPath);
    }
    *dev = upg_usb_dev_open(board->bus, board->portPath);
    while (!*dev && waitMore(deadline))
        *dev = upg_usb_dev_open(board->bus, board->portPath);
    if (!*dev) {
        out.error("no board in burn mode at " + board->port + " (or another program holds it)");
        return FlashNoBoard;
    }
    board->address = (*dev)->dev_addr;
    return FlashOk;
}
