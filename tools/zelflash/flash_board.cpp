#include "flash_board.h"

#include "upg_device.h"
#include "upg_port_text.h"
#include "zelupg_cmd.h"

#include <cstring>

namespace
{

std::string portText(uint8_t bus, const uint8_t *path)
{
    char text[UPG_PORT_TEXT_SIZE];
    return upg_port_text(text, sizeof(text), bus, path);
}

} // namespace

std::vector<BoardInfo> listBoards(bool askMode)
{
    std::vector<BoardInfo> boards;
    upg_usb_dev_entry *table = nullptr;
    const int count = upg_usb_dev_get_list(&table);
    for (int i = 0; i < count; i++) {
        BoardInfo b;
        b.bus = table[i].bus;
        std::memcpy(b.portPath, table[i].port_path, sizeof(b.portPath));
        b.address = table[i].dev_addr;
        b.port = portText(b.bus, b.portPath);
        boards.push_back(b);
    }
    for (BoardInfo &b : boards) {
        if (!askMode)
            break;
        upg_device *dev = upg_usb_dev_open(b.bus, b.portPath);
        int mode = 0;
        if (dev && zelupg_get_device_status(dev, &mode) == 0)
            b.mode = mode;
        upg_dev_close(dev);
    }
    return boards;
}

FlashStatus openBoard(const std::string &port, FlashOutput &out, upg_device **dev, BoardInfo *board)
{
    if (port.empty()) {
        const std::vector<BoardInfo> boards = listBoards(false);
        if (boards.empty()) {
            out.error("no board in burn mode");
            return FlashNoBoard;
        }
        if (boards.size() > 1) {
            std::string ports;
            for (const BoardInfo &b : boards)
                ports += (ports.empty() ? "" : ", ") + b.port;
            out.error("several boards in burn mode (" + ports + "); choose one with --port");
            return FlashSeveralBoards;
        }
        *board = boards[0];
    } else {
        // A serial device path would be told apart from a port text here.
        if (upg_port_text_parse(port.c_str(), &board->bus, board->portPath) != 0) {
            out.error("\"" + port + "\" is not a port text (bus:port[:port...], e.g. 1:2:4)");
            return FlashUsage;
        }
        board->port = portText(board->bus, board->portPath);
    }
    *dev = upg_usb_dev_open(board->bus, board->portPath);
    if (!*dev) {
        out.error("no board in burn mode at " + board->port + " (or another program holds it)");
        return FlashNoBoard;
    }
    board->address = (*dev)->dev_addr;
    return FlashOk;
}
