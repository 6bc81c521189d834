// The virtual bus: which devices are plugged where, their addresses and
// enumerations, interface claims, restarts on a timer and hotplug events.
#include "bus.h"

#include "board.h"
#include "shared_bus.h"
#include "simple_devices.h"

#include <libusb.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace vboard {

std::string UsbPosition::text() const
{
    std::string s = std::to_string(bus);
    for (uint8_t p : ports)
        s += ":" + std::to_string(p);
    return s;
}

bool UsbPosition::parse(const std::string &text, UsbPosition *out)
{
    UsbPosition p;
    p.ports.clear();
    size_t start = 0;
    bool first = true;
    while (true) {
        const size_t end = text.find(':', start);
        const std::string part = text.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const int v = std::atoi(part.c_str());
        if (v > 255 || (!first && v == 0))
            return false;
        if (first)
            p.bus = uint8_t(v);
        else
            p.ports.push_back(uint8_t(v));
        first = false;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (p.ports.empty() || p.ports.size() > 7)
        return false;
    *out = p;
    return true;
}

DeviceConfig DeviceConfig::hub(const UsbPosition &pos)
{
    DeviceConfig c;
    c.position = pos;
    return c;
}

DeviceConfig DeviceConfig::keyboard(const UsbPosition &pos)
{
    DeviceConfig c;
    c.position = pos;
    c.vendor = 0x046d;
    c.product = 0xc31c;
    c.deviceClass = 0x00;
    c.interfaceClass = 0x03;
    c.endpoints = {{0x81, 3, 8}};
    return c;
}

DeviceConfig DeviceConfig::other(const UsbPosition &pos, uint16_t vendor, uint16_t product)
{
    DeviceConfig c;
    c.position = pos;
    c.vendor = vendor;
    c.product = product;
    c.deviceClass = 0x00;
    c.interfaceClass = 0xff;
    c.endpoints = {{0x82, 2, 512}, {0x02, 2, 512}};
    return c;
}

namespace detail {

namespace {

struct Entry {
    DeviceId id = kNoDevice;
    std::string kind; // "board", "device", "scripted"
    std::shared_ptr<Device> dev;
    std::shared_ptr<Board> board;
    std::shared_ptr<ScriptedDevice> scripted;
    DeviceConfig plain; // identity of non-board devices
    UsbPosition position;
    bool present = false;
    uint8_t address = 0;
    uint64_t instance = 0;
    uint64_t returnToken = 0;
    std::map<int, std::pair<const void *, std::string>> claims;
    DevInfo current; // what the libusb layer sees of this enumeration
};

struct Timer {
    DeviceId id;
    uint64_t token;
    RestartPlan plan;
};

class Bus {
public:
    std::mutex m;
    std::condition_variable changed; // presence changes, timers
    std::map<DeviceId, Entry> entries;
    std::map<uint64_t, DeviceId> byInstance;
    std::map<int, Listener> listeners;
    std::multimap<Clock::time_point, Timer> timers;
    std::thread scheduler;
    int nextId = 1;
    int nextListener = 1;
    uint64_t nextInstance = 1;
    uint64_t nextToken = 1;
    std::map<uint8_t, uint8_t> nextAddress;

    Entry *find(DeviceId id)
    {
        auto it = entries.find(id);
        return it == entries.end() ? nullptr : &it->second;
    }

    bool positionTaken(const UsbPosition &pos, DeviceId except)
    {
        for (auto &kv : entries)
            if (kv.first != except && kv.second.present && kv.second.position == pos)
                return true;
        return false;
    }

    uint8_t allocateAddress(uint8_t bus)
    {
        uint8_t &next = nextAddress[bus];
        for (int tries = 0; tries < 127; tries++) {
            if (next < 2 || next > 127)
                next = 2;
            const uint8_t a = next++;
            bool used = false;
            for (auto &kv : entries)
                used |= kv.second.present && kv.second.position.bus == bus && kv.second.address == a;
            if (!used)
                return a;
        }
        return 0;
    }

    DevInfo info(const Entry &e)
    {
        DevInfo d;
        memset(&d, 0, sizeof d);
        d.instance = e.instance;
        d.id = e.id;
        d.bus = e.position.bus;
        d.address = e.address;
        d.portCount = uint8_t(e.position.ports.size());
        for (size_t i = 0; i < e.position.ports.size() && i < 7; i++)
            d.ports[i] = e.position.ports[i];
        std::vector<EndpointSpec> eps;
        if (e.board) {
            const BoardConfig c = e.board->config();
            d.vendor = kBoardVendor;
            d.product = kBoardProduct;
            d.deviceClass = c.deviceClass;
            d.interfaceClass = 0xff;
            d.configuredAtNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   (Clock::now() + std::chrono::milliseconds(c.configureDelayMs))
                                       .time_since_epoch())
                                   .count();
            eps.push_back({c.inEndpoint, 2, 512});
            eps.push_back({c.outEndpoint, 2, 512});
            eps.insert(eps.end(), c.extraEndpoints.begin(), c.extraEndpoints.end());
        } else {
            d.vendor = e.plain.vendor;
            d.product = e.plain.product;
            d.deviceClass = e.plain.deviceClass;
            d.interfaceClass = e.plain.interfaceClass;
            eps = e.plain.endpoints;
        }
        d.endpointCount = uint8_t(std::min<size_t>(eps.size(), 16));
        for (size_t i = 0; i < d.endpointCount; i++)
            d.endpoints[i] = {eps[i].address, eps[i].attributes, eps[i].maxPacket};
        return d;
    }

    void emit(bool arrived, const Entry &e)
    {
        const BusEvent ev{arrived, e.current};
        for (auto &kv : listeners)
            kv.second(ev);
    }

    // Puts a device on the bus (with the bus locked).
    bool arrive(Entry &e, int mode)
    {
        if (e.present || positionTaken(e.position, e.id))
            return false;
        e.address = allocateAddress(e.position.bus);
        if (!e.address)
            return false;
        e.present = true;
        e.instance = nextInstance++;
        e.returnToken = nextToken++;
        byInstance[e.instance] = e.id;
        e.dev->enumerated(mode);
        e.current = info(e);
        emit(true, e);
        changed.notify_all();
        return true;
    }

    void leave(Entry &e)
    {
        if (!e.present)
            return;
        e.present = false;
        e.claims.clear();
        e.returnToken = nextToken++;
        byInstance.erase(e.instance);
        e.dev->left();
        const BusEvent ev{false, e.current};
        for (auto &kv : listeners)
            kv.second(ev);
        changed.notify_all();
    }

    void schedule(Entry &e, const RestartPlan &plan)
    {
        if (!plan.returns)
            return;
        timers.emplace(Clock::now() + std::chrono::milliseconds(plan.delayMs),
                       Timer{e.id, e.returnToken, plan});
        if (!scheduler.joinable())
            scheduler = std::thread([this] { run(); });
        changed.notify_all();
    }

    void run()
    {
        std::unique_lock<std::mutex> g(m);
        for (;;) {
            if (timers.empty()) {
                changed.wait(g);
                continue;
            }
            auto first = timers.begin();
            if (Clock::now() < first->first) {
                changed.wait_until(g, first->first);
                continue;
            }
            const Timer t = first->second;
            timers.erase(first);
            Entry *e = find(t.id);
            if (!e || e->present || e->returnToken != t.token)
                continue;
            if (e->board && !(t.plan.position == e->position)) {
                BoardConfig c = e->board->config();
                c.position = t.plan.position;
                e->board->setConfig(c);
            }
            e->position = t.plan.position;
            arrive(*e, t.plan.mode);
        }
    }

    DeviceId add(Entry e)
    {
        std::lock_guard<std::mutex> g(m);
        if (e.position.ports.empty() || e.position.ports.size() > 7 || positionTaken(e.position, kNoDevice))
            return kNoDevice;
        e.id = nextId++;
        if (e.board)
            e.board->setId(e.id);
        entries[e.id] = e;
        Entry &stored = entries[e.id];
        if (!arrive(stored, -1)) {
            entries.erase(e.id);
            return kNoDevice;
        }
        return stored.id;
    }
};

Bus &bus()
{
    // Never destroyed: libusb contexts and the farm may use it until exit.
    static Bus *b = new Bus;
    return *b;
}

std::mutex g_traceMutex;
FILE *g_traceFile = nullptr;
std::atomic<bool> g_traceOn{false};

struct TraceEnv {
    TraceEnv()
    {
        if (const char *path = getenv("ZEL_VBOARD_TRACE"))
            if (*path)
                setTraceFile(path);
    }
} g_traceEnv;

} // namespace

bool traceFileOn() { return g_traceOn.load(std::memory_order_relaxed); }

void traceFileLine(const std::string &line)
{
    std::lock_guard<std::mutex> g(g_traceMutex);
    if (g_traceFile) {
        fputs(line.c_str(), g_traceFile);
        fputc('\n', g_traceFile);
        fflush(g_traceFile);
    }
}

int addListener(Listener listener)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    const int id = b.nextListener++;
    b.listeners[id] = std::move(listener);
    return id;
}

void removeListener(int id)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    b.listeners.erase(id);
}

std::vector<DevInfo> listPresent()
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    std::vector<DevInfo> out;
    for (auto &kv : b.entries)
        if (kv.second.present)
            out.push_back(kv.second.current);
    return out;
}

bool lookup(uint64_t instance, DevInfo *out)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    auto it = b.byInstance.find(instance);
    if (it == b.byInstance.end())
        return false;
    if (out)
        *out = b.find(it->second)->current;
    return true;
}

int openResult(uint64_t instance)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    auto it = b.byInstance.find(instance);
    if (it == b.byInstance.end())
        return LIBUSB_ERROR_NO_DEVICE;
    const Entry *e = b.find(it->second);
    return e->board && e->board->config().openDenied ? LIBUSB_ERROR_ACCESS : 0;
}

int claim(uint64_t instance, int interface, const void *owner, const std::string &ownerName)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    auto it = b.byInstance.find(instance);
    if (it == b.byInstance.end())
        return LIBUSB_ERROR_NO_DEVICE;
    Entry &e = *b.find(it->second);
    if (interface != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    auto c = e.claims.find(interface);
    if (c != e.claims.end())
        return c->second.first == owner ? 0 : LIBUSB_ERROR_BUSY;
    e.claims[interface] = {owner, ownerName};
    return 0;
}

int release(uint64_t instance, int interface, const void *owner)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    auto it = b.byInstance.find(instance);
    if (it == b.byInstance.end())
        return LIBUSB_ERROR_NO_DEVICE;
    Entry &e = *b.find(it->second);
    auto c = e.claims.find(interface);
    if (c == e.claims.end() || c->second.first != owner)
        return LIBUSB_ERROR_NOT_FOUND;
    e.claims.erase(c);
    return 0;
}

void releaseAll(const void *owner)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    for (auto &kv : b.entries)
        for (auto c = kv.second.claims.begin(); c != kv.second.claims.end();)
            c = c->second.first == owner ? kv.second.claims.erase(c) : std::next(c);
}

int bulk(uint64_t instance, const void *owner, uint8_t ep, uint8_t *data, int len, int *transferred,
         unsigned timeoutMs)
{
    Bus &b = bus();
    *transferred = 0;
    std::shared_ptr<Device> dev;
    {
        std::lock_guard<std::mutex> g(b.m);
        auto it = b.byInstance.find(instance);
        if (it == b.byInstance.end())
            return LIBUSB_ERROR_NO_DEVICE;
        Entry &e = *b.find(it->second);
        auto c = e.claims.find(0);
        if (c != e.claims.end() && c->second.first != owner)
            return LIBUSB_ERROR_BUSY;
        const DevInfo &d = e.current;
        bool known = false;
        for (int i = 0; i < d.endpointCount; i++)
            known |= d.endpoints[i].address == ep;
        if (!known) {
            fprintf(stderr, "vusb: bulk transfer on endpoint 0x%02x, which device %s does not have\n",
                    ep, e.position.text().c_str());
            return LIBUSB_ERROR_IO;
        }
        dev = e.dev;
    }
    TransferResult r = dev->transfer(ep, data, len, timeoutMs);
    if (r.bus != TransferResult::Bus::None) {
        std::lock_guard<std::mutex> g(b.m);
        auto it = b.byInstance.find(instance);
        if (it != b.byInstance.end()) {
            Entry &e = *b.find(it->second);
            b.leave(e);
            if (r.bus == TransferResult::Bus::Leave)
                b.schedule(e, r.restart);
        }
    }
    if (r.waitMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(r.waitMs));
    if (r.busBytes)
        carryOnBus(r.busNumber, r.busMbps, r.busBytes);
    if (r.until != Clock::time_point{}) {
        std::this_thread::sleep_until(r.until);
        dev->answered(r.until, Clock::now());
    }
    *transferred = r.transferred;
    return r.rc;
}

} // namespace detail

using namespace detail;

DeviceId addBoard(const BoardConfig &config)
{
    Entry e;
    e.kind = "board";
    e.position = config.position;
    e.board = std::make_shared<Board>(kNoDevice, config);
    e.dev = e.board;
    return bus().add(e);
}

DeviceId addDevice(const DeviceConfig &config)
{
    Entry e;
    e.kind = "device";
    if (config.deviceClass == 0x09)
        e.kind = "hub";
    else if (config.interfaceClass == 0x03)
        e.kind = "keyboard";
    e.position = config.position;
    e.plain = config;
    e.dev = std::make_shared<PlainDevice>();
    return bus().add(e);
}

DeviceId addScripted(const UsbPosition &position, const Script &script, uint8_t inEndpoint,
                     uint8_t outEndpoint)
{
    Entry e;
    e.kind = "scripted";
    e.position = position;
    e.plain = DeviceConfig::other(position, kBoardVendor, kBoardProduct);
    e.plain.endpoints = {{inEndpoint, 2, 512}, {outEndpoint, 2, 512}};
    e.scripted = std::make_shared<ScriptedDevice>(script, inEndpoint, outEndpoint);
    e.dev = e.scripted;
    return bus().add(e);
}

bool remove(DeviceId id)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    Entry *e = b.find(id);
    if (!e)
        return false;
    b.leave(*e);
    b.entries.erase(id);
    return true;
}

void removeAll()
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    for (auto &kv : b.entries)
        b.leave(kv.second);
    b.entries.clear();
    b.timers.clear();
    b.nextId = 1; // tests and `remove all` start numbering afresh
}

bool unplug(DeviceId id)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    Entry *e = b.find(id);
    if (!e || !e->present)
        return false;
    b.leave(*e);
    return true;
}

bool plug(DeviceId id)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    Entry *e = b.find(id);
    return e && b.arrive(*e, -1);
}

namespace {
// Runs fn on the board with this id under the bus lock; false when there is
// no such board.
template <typename Fn>
bool withBoard(DeviceId id, Fn fn)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    Entry *e = b.find(id);
    if (!e || !e->board)
        return false;
    fn(b, *e);
    return true;
}
} // namespace

bool restart(DeviceId id, int mode)
{
    return withBoard(id, [mode](Bus &b, Entry &e) {
        const RestartPlan plan = e.board->restartPlan(mode);
        b.leave(e);
        b.schedule(e, plan);
    });
}

bool addFault(DeviceId id, const Fault &fault)
{
    return withBoard(id, [&fault](Bus &, Entry &e) { e.board->addFault(fault); });
}

bool clearFaults(DeviceId id)
{
    return withBoard(id, [](Bus &, Entry &e) { e.board->clearFaults(); });
}

bool configure(DeviceId id, const BoardConfig &config)
{
    return withBoard(id, [&config](Bus &, Entry &e) {
        e.board->setConfig(config);
        if (!e.present)
            e.position = config.position;
    });
}

bool boardConfig(DeviceId id, BoardConfig *out)
{
    return withBoard(id, [out](Bus &, Entry &e) { *out = e.board->config(); });
}

std::vector<DeviceId> devices()
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    std::vector<DeviceId> ids;
    for (auto &kv : b.entries)
        ids.push_back(kv.first);
    return ids;
}

DeviceId find(const UsbPosition &position)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    DeviceId found = kNoDevice;
    for (auto &kv : b.entries) {
        if (!(kv.second.position == position))
            continue;
        if (kv.second.present)
            return kv.first;
        if (found == kNoDevice)
            found = kv.first;
    }
    return found;
}

bool isPresent(DeviceId id)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    Entry *e = b.find(id);
    return e && e->present;
}

bool waitPresent(DeviceId id, bool present, int timeoutMs)
{
    Bus &b = bus();
    std::unique_lock<std::mutex> g(b.m);
    return b.changed.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] {
        Entry *e = b.find(id);
        return e && e->present == present;
    });
}

BoardReport report(DeviceId id)
{
    Bus &b = bus();
    std::shared_ptr<Board> board;
    BoardReport r;
    bool present = false;
    uint8_t address = 0;
    {
        std::lock_guard<std::mutex> g(b.m);
        Entry *e = b.find(id);
        if (!e)
            return r;
        board = e->board;
        present = e->present;
        address = e->address;
        r.position = e->position;
        r.id = id;
    }
    if (board)
        r = board->report();
    r.present = present;
    r.address = address;
    return r;
}

std::vector<uint8_t> readMemory(DeviceId id, uint32_t address, uint32_t length)
{
    Bus &b = bus();
    std::shared_ptr<Board> board;
    {
        std::lock_guard<std::mutex> g(b.m);
        Entry *e = b.find(id);
        if (e)
            board = e->board;
    }
    return board ? board->readMemory(address, length) : std::vector<uint8_t>();
}

ScriptStatus scriptStatus(DeviceId id)
{
    Bus &b = bus();
    std::shared_ptr<ScriptedDevice> s;
    {
        std::lock_guard<std::mutex> g(b.m);
        Entry *e = b.find(id);
        if (e)
            s = e->scripted;
    }
    ScriptStatus none;
    none.errors.push_back("no scripted device with this id");
    return s ? s->status() : none;
}

void setTraceFile(const std::string &path)
{
    std::lock_guard<std::mutex> g(g_traceMutex);
    if (g_traceFile)
        fclose(g_traceFile);
    g_traceFile = path.empty() ? nullptr : fopen(path.c_str(), "a");
    if (!path.empty() && !g_traceFile)
        fprintf(stderr, "vboard: cannot open trace file %s\n", path.c_str());
    g_traceOn = g_traceFile != nullptr;
}

namespace detail {

// Kind, claim owner and address of a device, for describe().
bool entryState(DeviceId id, std::string *kind, std::string *claimedBy, bool *present,
                uint8_t *address, UsbPosition *position)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    Entry *e = b.find(id);
    if (!e)
        return false;
    *kind = e->kind;
    claimedBy->clear();
    auto c = e->claims.find(0);
    if (c != e->claims.end())
        *claimedBy = c->second.second;
    *present = e->present;
    *address = e->address;
    *position = e->position;
    return true;
}

bool setBoardU32(DeviceId id, uint32_t key, uint32_t value)
{
    Bus &b = bus();
    std::lock_guard<std::mutex> g(b.m);
    Entry *e = b.find(id);
    if (!e || !e->board)
        return false;
    e->board->setU32(key, value);
    return true;
}

} // namespace detail
} // namespace vboard
