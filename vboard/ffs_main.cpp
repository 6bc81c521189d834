// vboard-ffs: virtual boards as USB gadgets on the machine's own USB stack.
//
//   vboard-ffs [--report FILE] [--control FIFO] --board POS UDC [OPTION=VALUE...] [--board ...]
//
// Each board is the same device model the farm serves (board options as in
// the farm's "plug board" line), reached by the host through a real USB
// device controller (in tests, dummy_hcd) via FunctionFS instead of the test
// library. The board leaving the bus is an unbind of its gadget, coming back
// a bind: the host sees it leave and arrive with a new address at the same
// port. POS is the position the host sees it at (bus:port), for its reports.
//
// FIFO (made when missing) takes the farm's control lines ("unplug 1:1",
// "plug 1:1", "restart 1:1 mode=1", ...), one per line; each answer goes to
// standard output. SIGUSR1 writes what every board received to FILE (replaced at once);
// SIGTERM or SIGINT disconnects the boards and ends the program.

#include "bus.h"
#include "ffs_gadget.h"

#include <libusb.h>
#include <linux/usb/functionfs.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using namespace vboard;

constexpr unsigned kTransferTimeoutMs = 5000;
constexpr uint32_t kMaxDataPhase = 65536;

// One board and its gadget. The pump thread moves the host's transfers
// between the endpoint files and the model; the event thread follows the
// model on and off the bus.
struct GadgetBoard {
    DeviceId id = kNoDevice;
    std::string position;
    std::unique_ptr<FfsGadget> gadget;
    uint8_t inEp = 0;
    uint8_t outEp = 0;

    std::mutex mutex; // held across a transfer and its halt, so a disconnect waits
    uint64_t instance = 0;
    bool bound = false;

    std::mutex eventMutex;
    std::condition_variable eventCv;
    std::deque<detail::BusEvent> events;
};

std::vector<std::unique_ptr<GadgetBoard>> g_boards;

int usage(const char *why)
{
    fprintf(stderr,
            "vboard-ffs: %s\nusage: vboard-ffs [--report FILE] [--control FIFO] --board POS UDC "
            "[OPTION=VALUE...] "
            "[--board ...]\n",
            why);
    return 2;
}

// One bulk transfer of the host, handed to the model. A refusal of the model
// becomes a halt of the endpoints before the board may leave the bus; a
// timeout stays unanswered, as the model's silence means.
int transfer(GadgetBoard &b, uint8_t ep, uint8_t *data, int len, int *transferred)
{
    std::lock_guard<std::mutex> g(b.mutex);
    const int rc = detail::bulk(b.instance, &b, ep, data, len, transferred, kTransferTimeoutMs);
    if (rc != 0 && rc != LIBUSB_ERROR_TIMEOUT && b.bound)
        b.gadget->halt();
    return rc;
}

// The transport framing, as a device controller's firmware follows it: a
// 31-byte command wrapper announces the direction and length of the data
// phase, a 13-byte status wrapper ends the packet. The endpoint files need
// the exact length: a bulk OUT read only ends early on a short packet.
void pump(GadgetBoard &b)
{
    enum class Next { Cbw, DataOut, DataIn, Csw };
    std::vector<uint8_t> buf(kMaxDataPhase);
    Next next = Next::Cbw;
    uint32_t dataLen = 0;
    for (;;) {
        int done = 0;
        if (next == Next::Cbw || next == Next::DataOut) {
            const size_t want = next == Next::Cbw ? 31 : dataLen;
            const ssize_t n = read(b.gadget->outFd(), buf.data(), want);
            if (n < 0) { // disconnected, or waiting for the host to configure it
                next = Next::Cbw;
                usleep(20000);
                continue;
            }
            if (transfer(b, b.outEp, buf.data(), int(n), &done) != 0) {
                next = Next::Cbw;
                continue;
            }
            if (next == Next::DataOut) {
                next = Next::Csw;
                continue;
            }
            dataLen = detail::le32(buf.data() + 8);
            next = dataLen == 0 ? Next::Csw : (buf[12] & 0x80) ? Next::DataIn : Next::DataOut;
            continue;
        }
        const int want = next == Next::DataIn ? int(dataLen) : 13;
        if (transfer(b, b.inEp, buf.data(), want, &done) != 0) {
            next = Next::Cbw;
            continue;
        }
        if (write(b.gadget->inFd(), buf.data(), size_t(done)) < 0) {
            next = Next::Cbw;
            usleep(20000);
            continue;
        }
        next = next == Next::DataIn ? Next::Csw : Next::Cbw;
    }
}

// Control requests to the interface: the board has none, so each is stalled.
void serveEp0(GadgetBoard &b)
{
    usb_functionfs_event ev[4];
    for (;;) {
        const ssize_t n = read(b.gadget->ep0(), ev, sizeof ev);
        if (n < 0) {
            if (errno != EINTR)
                usleep(100000);
            continue;
        }
        for (size_t i = 0; i < size_t(n) / sizeof ev[0]; i++) {
            if (ev[i].type != FUNCTIONFS_SETUP)
                continue;
            if (ev[i].u.setup.bRequestType & USB_DIR_IN) {
                if (write(b.gadget->ep0(), nullptr, 0) < 0) {
                    // The stall is the answer.
                }
            } else if (read(b.gadget->ep0(), nullptr, 0) < 0) {
                // The stall is the answer.
            }
        }
    }
}

// Follows the model on and off the bus with binds and unbinds.
void followBus(GadgetBoard &b)
{
    for (;;) {
        detail::BusEvent ev;
        {
            std::unique_lock<std::mutex> lk(b.eventMutex);
            b.eventCv.wait(lk, [&] { return !b.events.empty(); });
            ev = b.events.front();
            b.events.pop_front();
        }
        std::lock_guard<std::mutex> g(b.mutex);
        std::string error;
        if (ev.arrived && !b.bound) {
            b.instance = ev.info.instance;
            b.bound = b.gadget->bind(&error);
        } else if (!ev.arrived && b.bound) {
            b.bound = !b.gadget->unbind(&error);
        }
        if (!error.empty())
            fprintf(stderr, "vboard-ffs: board %s: %s\n", b.position.c_str(), error.c_str());
    }
}

// Control lines from a FIFO, for as long as the program runs.
void serveControl(const std::string &path)
{
    for (;;) {
        FILE *f = fopen(path.c_str(), "r");
        if (!f) {
            fprintf(stderr, "vboard-ffs: %s: %s\n", path.c_str(), strerror(errno));
            return;
        }
        char line[512];
        while (fgets(line, sizeof line, f)) {
            line[strcspn(line, "\n")] = 0;
            std::string reply;
            control(line, &reply);
            printf("vboard-ffs: %s: %s\n", line, reply.c_str());
            fflush(stdout);
        }
        fclose(f);
    }
}

void writeReport(const std::string &path)
{
    std::string text;
    for (const auto &b : g_boards)
        text += describe(b->id, true);
    const std::string tmp = path + ".tmp";
    FILE *f = fopen(tmp.c_str(), "w");
    if (!f || fputs(text.c_str(), f) < 0 || fclose(f) != 0 ||
        rename(tmp.c_str(), path.c_str()) != 0)
        fprintf(stderr, "vboard-ffs: cannot write %s: %s\n", path.c_str(), strerror(errno));
}

// Adds the board to the bus and builds its gadget; false with a message.
bool setUp(GadgetBoard &b, const std::string &udc, const std::string &options)
{
    std::string reply;
    if (!control("plug board " + b.position + " " + options, &reply)) {
        fprintf(stderr, "vboard-ffs: board %s: %s\n", b.position.c_str(), reply.c_str());
        return false;
    }
    UsbPosition pos;
    UsbPosition::parse(b.position, &pos);
    b.id = find(pos);
    BoardConfig config;
    boardConfig(b.id, &config);
    b.inEp = config.inEndpoint;
    b.outEp = config.outEndpoint;
    GadgetIdentity id;
    id.vendor = kBoardVendor;
    id.product = kBoardProduct;
    id.deviceClass = config.deviceClass;
    id.manufacturer = "Zelkora";
    id.productName = "USB Upgrade";
    id.serial = "VB" + std::to_string(b.id);
    b.gadget.reset(new FfsGadget("vb" + std::to_string(b.id), udc, "/run/vboard-ffs"));
    std::string error;
    if (mkdir("/run/vboard-ffs", 0755) != 0 && errno != EEXIST)
        error = "/run/vboard-ffs: " + std::string(strerror(errno));
    if (error.empty() && b.gadget->create(id, &error))
        return true;
    fprintf(stderr, "vboard-ffs: board %s: %s\n", b.position.c_str(), error.c_str());
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    std::string reportPath;
    std::string controlPath;
    struct BoardArgs {
        std::string position, udc, options;
    };
    std::vector<BoardArgs> boardArgs;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--report" && i + 1 < argc) {
            reportPath = argv[++i];
        } else if (a == "--control" && i + 1 < argc) {
            controlPath = argv[++i];
        } else if (a == "--board" && i + 2 < argc) {
            boardArgs.push_back({argv[i + 1], argv[i + 2], ""});
            i += 2;
        } else if (!boardArgs.empty() && a.find('=') != std::string::npos) {
            boardArgs.back().options += " " + a;
        } else {
            return usage(("unexpected argument " + a).c_str());
        }
    }
    if (boardArgs.empty())
        return usage("no board given");

    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGUSR1, SIGTERM, SIGINT})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    detail::addListener([](const detail::BusEvent &ev) {
        for (const auto &b : g_boards)
            if (b->id == ev.info.id) {
                std::lock_guard<std::mutex> g(b->eventMutex);
                b->events.push_back(ev);
                b->eventCv.notify_one();
            }
    });
    for (const BoardArgs &s : boardArgs) {
        g_boards.emplace_back(new GadgetBoard);
        g_boards.back()->position = s.position;
    }
    for (size_t i = 0; i < boardArgs.size(); i++)
        if (!setUp(*g_boards[i], boardArgs[i].udc, boardArgs[i].options))
            return 1;
    // The boards arrived while they were added, before their ids were known.
    for (const detail::DevInfo &info : detail::listPresent())
        for (const auto &b : g_boards)
            if (b->id == info.id)
                b->events.push_back({true, info});
    for (const auto &b : g_boards) {
        GadgetBoard &board = *b;
        std::thread([&board] { pump(board); }).detach();
        std::thread([&board] { serveEp0(board); }).detach();
        std::thread([&board] { followBus(board); }).detach();
    }
    if (!controlPath.empty()) {
        if (mkfifo(controlPath.c_str(), 0600) != 0 && errno != EEXIST) {
            fprintf(stderr, "vboard-ffs: %s: %s\n", controlPath.c_str(), strerror(errno));
            return 1;
        }
        std::thread([controlPath] { serveControl(controlPath); }).detach();
    }
    printf("vboard-ffs: %zu board(s) on the bus\n", g_boards.size());
    fflush(stdout);

    for (;;) {
        int sig = 0;
        sigwait(&signals, &sig);
        if (sig == SIGUSR1 && !reportPath.empty()) {
            writeReport(reportPath);
            continue;
        }
        if (sig == SIGUSR1)
            continue;
        for (const auto &b : g_boards) {
            std::lock_guard<std::mutex> g(b->mutex);
            std::string error;
            if (b->bound)
                b->gadget->unbind(&error);
        }
        return 0;
    }
}
