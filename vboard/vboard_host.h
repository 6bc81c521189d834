// In-process hosting of virtual USB devices.
//
// A test that links the `vusb` target (the libusb test library) can put
// virtual boards and other USB devices on a virtual bus with these functions;
// every libusb context of the process that was created without
// ZEL_VBOARD_FARM in the environment then sees them through the ordinary
// libusb calls. The same functions run the board farm (vboard-farm), which
// serves its devices to other processes over a Unix socket.
//
// All functions are thread-safe. Devices are named by a DeviceId that stays
// the same while a board restarts and re-enumerates with a new address.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vboard {

using DeviceId = int;
constexpr DeviceId kNoDevice = -1;

constexpr uint16_t kBoardVendor = 0x33C3;
constexpr uint16_t kBoardProduct = 0x6677;

// Physical position: bus number and port numbers from the root hub down
// (1 to 7 of them). Written as text "bus:port:port..." (e.g. "1:2:4").
struct UsbPosition {
    uint8_t bus = 1;
    std::vector<uint8_t> ports{1};

    std::string text() const;
    static bool parse(const std::string &text, UsbPosition *out);
    bool operator==(const UsbPosition &o) const { return bus == o.bus && ports == o.ports; }
};

struct EndpointSpec {
    uint8_t address = 0;        // bit 7 set: IN
    uint8_t attributes = 2;     // transfer type in bits 0..1: 2 bulk, 3 interrupt
    uint16_t maxPacket = 512;
};

// Faults a board produces on demand. Text names (used by the farm's control
// command and parseFault) are given after each kind.
enum class FaultKind {
    Stall,         // "stall": the transfer fails with a stall (LIBUSB_ERROR_PIPE)
    IoError,       // "io": the transfer fails with LIBUSB_ERROR_IO
    Timeout,       // "timeout": no answer; the transfer waits its timeout (LIBUSB_ERROR_TIMEOUT)
    NoDevice,      // "nodev": the board is unplugged mid-transfer (LIBUSB_ERROR_NO_DEVICE)
    CswTag,        // "csw_tag": the status wrapper carries a wrong tag
    CswSignature,  // "csw_sig": the status wrapper carries a wrong signature
    RespStatus,    // "resp_status": the response header carries status `value` (default 1)
    RespLength,    // "resp_len": the response header's data length is off by one
    CrcMismatch,   // "crc": the CRC query answers a wrong CRC
    BurnFail,      // "burn_fail": the burn result is `value` (default 1)
    RunFail,       // "run_fail": the run result is `value` (default 1)
    BlockSizeZero, // "block0": the block size query answers 0
    NeverReturn,   // "no_return": after the next restart the board never comes back
    OtherPort,     // "other_port": after the next restart it comes back with its last
                   //   port number replaced by `value` (default: last port + 1)
    ReturnLate,    // "late": the next restart takes `value` ms (default 15000)
};

// Where and how often a fault fires.
//  - By command: `command` is a command code; the fault fires in packet
//    `packet` of that command (0 = the 16-byte command header, 1.. = the
//    packets that follow it; -1, the default, = the command's first
//    board-to-host packet, its response header; for 0x12 that is the closing
//    response after the data). Transfer faults (stall, io, timeout, nodev)
//    hit that packet's `stage`: "cbw", "data" (default) or "csw"; the
//    wrapper faults hit its status wrapper; value faults alter that command's
//    answer.
//  - By byte count: `atByte` >= 0; the fault fires at the FWC data packet
//    during which the board's count of FWC data bytes (over all FWCs since
//    the board was added) reaches atByte. Value faults are armed there and
//    hit the next command they apply to.
//  - Neither: transfer and wrapper faults hit the next transfer; value
//    faults hit the next command they apply to; the restart faults
//    (no_return, other_port, late) always act on the next restart.
// `skip` matching occasions pass before the fault fires; it then fires
// `count` times (0 = every time from then on).
struct Fault {
    enum class Stage { Cbw, Data, Csw };
    FaultKind kind = FaultKind::Stall;
    int command = -1;
    int packet = -1;
    Stage stage = Stage::Data;
    int64_t atByte = -1;
    int skip = 0;
    int count = 1;
    int64_t value = -1; // -1: the kind's default
};

// "stall cmd=0x11 packet=0 stage=data bytes=1048576 skip=0 count=1 value=3"
bool parseFault(const std::string &text, Fault *out, std::string *error);
std::string faultText(const Fault &f);
std::string faultName(FaultKind kind);

// How a board answers the closing response of its last loader stage before
// it leaves the bus.
enum class RestartAnswer {
    Pipe,   // "pipe": the response transfer stalls (LIBUSB_ERROR_PIPE)
    Io,     // "io": the board drops off during the transfer (LIBUSB_ERROR_IO)
    Silent, // "silent": no answer; the transfer waits its timeout (LIBUSB_ERROR_TIMEOUT)
    Gone,   // "gone": the host has seen it leave already (LIBUSB_ERROR_NO_DEVICE), as
            // behind a real host controller
};

// USB 2.0 high-speed bulk timing: 512-byte packets, 13 per 125 us
// microframe, plus a fixed turnaround per transfer. Off by default.
// Boards with the same bus number also share that bus's bandwidth among
// the transfers pending on it, as behind one host controller.
constexpr uint32_t kUsb2BusMbps = 320; // 40 MB/s: bulk data through a USB 2.0 controller in practice
struct LinkModel {
    bool enabled = false;
    uint32_t turnaroundUs = 50;
    uint32_t busMbps = kUsb2BusMbps; // bulk data rate of the shared bus; 0: not shared
};

struct BoardConfig {
    UsbPosition position;
    uint8_t deviceClass = 0x00;
    uint8_t inEndpoint = 0x81;
    uint8_t outEndpoint = 0x01;
    std::vector<EndpointSpec> extraEndpoints; // listed after the two bulk ones
    uint32_t blockSize = 512;
    bool startInUpgradeMode = false;
    std::string lastLoaderStage = "updater.uboot"; // substring of the FWC name
    RestartAnswer restartAnswer = RestartAnswer::Pipe;
    uint32_t restartDelayMs = 300; // time off the bus during a restart
    bool keepData = false;         // keep every FWC's bytes for inspection
    std::string storageMedia = "mmc0";
    std::string partitionTable = "2m(uboot),16m(kernel),256m(rootfs),-(userdata)";
    std::string traceInfo = "vboard trace: ok\n";
    std::string chipName = "ZK-VBOARD";
    LinkModel link;
    bool trace = false;        // keep the transfer-level trace in memory
    uint32_t timeoutCapMs = 0; // cap on how long a "timeout" waits (0: the host's timeout)
    bool openDenied = false;   // its device node refuses the opener, as without the udev rule
    // For this long after each enumeration the host has not configured it
    // yet, as a real host may still be doing when it announces the arrival:
    // no active configuration, no interface to claim.
    uint32_t configureDelayMs = 0;
};

// Anything else on the bus: hubs, keyboards, other devices. They enumerate
// and can be opened, but answer every transfer with a stall.
struct DeviceConfig {
    UsbPosition position;
    uint16_t vendor = 0x1d6b;
    uint16_t product = 0x0002;
    uint8_t deviceClass = 0x09; // hub
    uint8_t interfaceClass = 0x09;
    std::vector<EndpointSpec> endpoints{{0x81, 3, 4}};

    static DeviceConfig hub(const UsbPosition &pos);
    static DeviceConfig keyboard(const UsbPosition &pos);
    static DeviceConfig other(const UsbPosition &pos, uint16_t vendor, uint16_t product);
};

// ---- What a board received -------------------------------------------------

struct FwcRecord {
    std::vector<uint8_t> entry; // the 512-byte meta entry as received
    std::string name;        // from the 512-byte meta entry
    std::string partition;
    std::string attributes;
    uint32_t metaSize = 0;   // size field of the entry
    uint32_t metaCrc = 0;    // CRC field of the entry
    bool refused = false;    // meta answered with a failure (e.g. image.target in loader mode)
    bool started = false;    // data start (0x12) received
    uint32_t announcedSize = 0; // size given with the data start
    uint64_t received = 0;   // data bytes received, padding included
    uint32_t crc = 0;        // CRC-32 the board computed over announcedSize bytes
    bool closed = false;     // the closing response was requested
    bool complete = false;   // ... and at least announcedSize bytes had arrived
    bool restarted = false;  // the board restarted at its closing response
    int mode = 0;            // board mode when the entry arrived
    std::vector<uint8_t> data; // the FWC's own bytes (only with keepData)
};

struct MemoryWrite {
    uint32_t address;
    uint32_t length;
};

struct BoardReport {
    DeviceId id = kNoDevice;
    bool present = false;     // on the bus now
    UsbPosition position;
    uint8_t address = 0;      // current (or last) device address
    int mode = 0;             // 0 first-stage loader, 1 upgrade mode
    int enumerations = 0;     // times it appeared on the bus
    int restarts = 0;         // times it left the bus to restart
    int stalls = 0;           // malformed input it stalled
    std::vector<FwcRecord> fwcs;
    std::vector<std::string> shellTexts;
    std::vector<MemoryWrite> memoryWrites;
    std::vector<uint32_t> execs;
    std::vector<uint32_t> setU32s;
    std::vector<std::vector<uint8_t>> upgradeConfigs; // 32-byte blocks of 0x0A
    int upgradeEnds = 0;
    std::vector<std::vector<uint8_t>> blobs;
    std::vector<int> commands; // every command code received, in order
    uint64_t fwcBytes = 0;     // FWC data bytes over all FWCs
    uint64_t linkBusyNs = 0;   // link model: time all transfers took on the link
    // Steady clock (CLOCK_MONOTONIC, comparable across processes), in ns:
    // the board's last arrival on the bus and the first command header after it (0: none yet).
    int64_t arrivedNs = 0;
    int64_t firstCommandNs = 0;
    std::vector<Fault> pendingFaults;
    std::vector<std::string> trace; // with BoardConfig::trace
};

// ---- Scripted devices: wire-exact tests -----------------------------------
//
// A scripted device has the board's identity and endpoints but no protocol:
// it walks a table of steps. An OUT step expects the host's next transfer to
// be an OUT transfer with exactly these bytes ("??" in hex text matches any
// byte); an IN step answers the host's next IN transfer with these bytes.
// A step with `result` != 0 fails that transfer with the libusb code instead.
// On any mismatch the device prints a hex dump of expected and actual bytes
// to stderr, records it in ScriptStatus::errors and fails the transfer with
// LIBUSB_ERROR_PIPE.
struct ScriptStep {
    bool out = true;
    std::vector<uint8_t> bytes;
    std::vector<bool> wildcard; // per byte, OUT steps only; empty: none
    int result = 0;
};

class Script {
public:
    Script &out(const std::vector<uint8_t> &bytes);
    Script &out(const std::string &hex);  // "55534243 ?? ?? ?? ?? 10 00 00 00 ..."
    Script &in(const std::vector<uint8_t> &bytes);
    Script &in(const std::string &hex);
    Script &fail(bool out, int libusbError); // next transfer in that direction fails
    const std::vector<ScriptStep> &steps() const { return m_steps; }

private:
    std::vector<ScriptStep> m_steps;
};

struct ScriptStatus {
    size_t done = 0;  // steps consumed
    size_t total = 0;
    std::vector<std::string> errors;
    bool ok() const { return errors.empty() && done == total; }
};

std::vector<uint8_t> fromHex(const std::string &hex, std::vector<bool> *wildcard = nullptr);
std::string hexDump(const uint8_t *data, size_t len);

// ---- The bus ----------------------------------------------------------------

// Each returns the new device's id; it is on the bus at once (hotplug
// listeners are told). kNoDevice when the position is taken or invalid.
DeviceId addBoard(const BoardConfig &config = BoardConfig());
DeviceId addDevice(const DeviceConfig &config);
DeviceId addScripted(const UsbPosition &position, const Script &script,
                     uint8_t inEndpoint = 0x81, uint8_t outEndpoint = 0x01);

bool remove(DeviceId id);     // off the bus and forgotten
void removeAll();             // every device; pending restarts are cancelled
bool unplug(DeviceId id);     // off the bus; state kept
bool plug(DeviceId id);       // back on the bus (new address)
// The board leaves the bus and comes back after its restart delay, in
// first-stage loader mode (mode 0) or upgrade mode (mode 1).
bool restart(DeviceId id, int mode = 0);
bool addFault(DeviceId id, const Fault &fault);
bool clearFaults(DeviceId id);
// Change a board's configuration; changes of its identity (position, class,
// endpoints) take effect at its next enumeration. Fails for non-board devices.
bool configure(DeviceId id, const BoardConfig &config);
bool boardConfig(DeviceId id, BoardConfig *out);

std::vector<DeviceId> devices();   // in list order
DeviceId find(const UsbPosition &position); // present or not
bool isPresent(DeviceId id);
bool waitPresent(DeviceId id, bool present, int timeoutMs);
BoardReport report(DeviceId id);
std::vector<uint8_t> readMemory(DeviceId id, uint32_t address, uint32_t length);
ScriptStatus scriptStatus(DeviceId id);

// Transfer-level trace of every board to a file (appended; "" stops it).
// Also switched on by the ZEL_VBOARD_TRACE environment variable.
void setTraceFile(const std::string &path);

// One line per device: id, kind, position, address, presence, mode and
// counters; with `detail`, also what each board received.
std::string describe(DeviceId id, bool detail);

// ---- The board farm -----------------------------------------------------------

// Environment variable naming the farm's Unix socket. When it is set at
// libusb_init, that context uses the farm instead of the in-process bus.
constexpr const char *kFarmEnv = "ZEL_VBOARD_FARM";

// Sends one control line (see README: "plug board 1:3", "state", ...) to the
// farm at `socketPath` ("" = $ZEL_VBOARD_FARM). Returns true when the farm
// answered "ok"; `reply` gets the answer text.
bool farmCommand(const std::string &socketPath, const std::string &line, std::string *reply);

// Runs a control line against the in-process bus (what the farm does with
// the lines it receives).
bool control(const std::string &line, std::string *reply);

} // namespace vboard
