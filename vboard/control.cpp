// Text control of the bus: fault texts, device descriptions and the control
// lines that the farm accepts (see README.md).
#include "device.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace vboard {

namespace detail {
bool entryState(DeviceId id, std::string *kind, std::string *claimedBy, bool *present,
                uint8_t *address, UsbPosition *position);
bool setBoardU32(DeviceId id, uint32_t key, uint32_t value);
} // namespace detail

namespace {

const struct {
    FaultKind kind;
    const char *name;
} kFaultNames[] = {
    {FaultKind::Stall, "stall"},
    {FaultKind::IoError, "io"},
    {FaultKind::Timeout, "timeout"},
    {FaultKind::NoDevice, "nodev"},
    {FaultKind::CswTag, "csw_tag"},
    {FaultKind::CswSignature, "csw_sig"},
    {FaultKind::RespStatus, "resp_status"},
    {FaultKind::RespLength, "resp_len"},
    {FaultKind::CrcMismatch, "crc"},
    {FaultKind::BurnFail, "burn_fail"},
    {FaultKind::RunFail, "run_fail"},
    {FaultKind::BlockSizeZero, "block0"},
    {FaultKind::NeverReturn, "no_return"},
    {FaultKind::OtherPort, "other_port"},
    {FaultKind::ReturnLate, "late"},
};

bool parseNumber(const std::string &s, int64_t *out)
{
    if (s.empty())
        return false;
    char *end = nullptr;
    const long long v = strtoll(s.c_str(), &end, 0);
    if (*end)
        return false;
    *out = v;
    return true;
}

std::vector<std::string> words(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> w;
    std::string s;
    while (in >> s)
        w.push_back(s);
    return w;
}

bool splitKey(const std::string &w, std::string *key, std::string *value)
{
    const size_t eq = w.find('=');
    if (eq == std::string::npos)
        return false;
    *key = w.substr(0, eq);
    *value = w.substr(eq + 1);
    return true;
}

std::string hex32(uint32_t v)
{
    char b[16];
    snprintf(b, sizeof b, "0x%08x", v);
    return b;
}

// Board options "key=value" of the control lines; false with *error set.
bool applyBoardOption(BoardConfig *c, const std::string &key, const std::string &value,
                      std::vector<std::pair<uint32_t, uint32_t>> *u32s, std::string *error)
{
    int64_t n = 0;
    const bool isNumber = parseNumber(value, &n);
    auto number = [&](int64_t lo, int64_t hi) {
        if (!isNumber || n < lo || n > hi) {
            *error = "bad value for " + key + ": " + value;
            return false;
        }
        return true;
    };
    if (key == "block") {
        if (!number(0, 0xffffffffLL))
            return false;
        c->blockSize = uint32_t(n);
    } else if (key == "restart_delay") {
        if (!number(0, 3600000))
            return false;
        c->restartDelayMs = uint32_t(n);
    } else if (key == "loader_stage") {
        c->lastLoaderStage = value;
    } else if (key == "restart_answer") {
        if (value == "pipe")
            c->restartAnswer = RestartAnswer::Pipe;
        else if (value == "io")
            c->restartAnswer = RestartAnswer::Io;
        else if (value == "silent")
            c->restartAnswer = RestartAnswer::Silent;
        else if (value == "gone")
            c->restartAnswer = RestartAnswer::Gone;
        else {
            *error = "restart_answer is pipe, io, silent or gone";
            return false;
        }
    } else if (key == "keep_data") {
        if (!number(0, 1))
            return false;
        c->keepData = n != 0;
    } else if (key == "upgrade") {
        if (!number(0, 1))
            return false;
        c->startInUpgradeMode = n != 0;
    } else if (key == "access") {
        if (value != "denied" && value != "granted") {
            *error = "access is denied or granted";
            return false;
        }
        c->openDenied = value == "denied";
    } else if (key == "configure_delay") {
        if (!number(0, 3600000))
            return false;
        c->configureDelayMs = uint32_t(n);
    } else if (key == "link") {
        if (!number(0, 1))
            return false;
        c->link.enabled = n != 0;
    } else if (key == "turnaround") {
        if (!number(0, 1000000))
            return false;
        c->link.turnaroundUs = uint32_t(n);
    } else if (key == "bus_mbps") {
        if (!number(0, 100000))
            return false;
        c->link.busMbps = uint32_t(n);
    } else if (key == "class") {
        if (!number(0, 255))
            return false;
        c->deviceClass = uint8_t(n);
    } else if (key == "in_ep") {
        if (!number(0x80, 0x8f))
            return false;
        c->inEndpoint = uint8_t(n);
    } else if (key == "out_ep") {
        if (!number(0, 0x0f))
            return false;
        c->outEndpoint = uint8_t(n);
    } else if (key == "extra_ep") {
        // extra_ep=ADDRESS[/ATTRIBUTES]
        const size_t slash = value.find('/');
        int64_t a = 0, t = 2;
        if (!parseNumber(value.substr(0, slash), &a) || a < 0 || a > 0xff ||
            (slash != std::string::npos && !parseNumber(value.substr(slash + 1), &t))) {
            *error = "extra_ep=ADDRESS[/ATTRIBUTES]";
            return false;
        }
        c->extraEndpoints.push_back({uint8_t(a), uint8_t(t), 512});
    } else if (key == "media") {
        c->storageMedia = value;
    } else if (key == "parts") {
        c->partitionTable = value;
    } else if (key == "traceinfo") {
        c->traceInfo = value;
    } else if (key == "trace") {
        if (!number(0, 1))
            return false;
        c->trace = n != 0;
    } else if (key == "timeout_cap") {
        if (!number(0, 3600000))
            return false;
        c->timeoutCapMs = uint32_t(n);
    } else if (key == "u32") {
        const size_t colon = value.find(':');
        int64_t k = 0, v = 0;
        if (colon == std::string::npos || !parseNumber(value.substr(0, colon), &k) ||
            !parseNumber(value.substr(colon + 1), &v)) {
            *error = "u32=KEY:VALUE";
            return false;
        }
        u32s->push_back({uint32_t(k), uint32_t(v)});
    } else {
        *error = "unknown board option " + key;
        return false;
    }
    return true;
}

DeviceId resolve(const std::string &w)
{
    if (!w.empty() && w[0] == '#') {
        int64_t n = 0;
        return parseNumber(w.substr(1), &n) ? DeviceId(n) : kNoDevice;
    }
    UsbPosition p;
    if (!UsbPosition::parse(w, &p))
        return kNoDevice;
    return find(p);
}

} // namespace

std::string faultName(FaultKind kind)
{
    for (const auto &f : kFaultNames)
        if (f.kind == kind)
            return f.name;
    return "?";
}

bool parseFault(const std::string &text, Fault *out, std::string *error)
{
    const std::vector<std::string> w = words(text);
    if (w.empty()) {
        *error = "empty fault";
        return false;
    }
    Fault f;
    bool known = false;
    for (const auto &k : kFaultNames)
        if (w[0] == k.name) {
            f.kind = k.kind;
            known = true;
        }
    if (!known) {
        *error = "unknown fault " + w[0];
        return false;
    }
    for (size_t i = 1; i < w.size(); i++) {
        std::string key, value;
        int64_t n = 0;
        if (!splitKey(w[i], &key, &value)) {
            *error = "expected key=value: " + w[i];
            return false;
        }
        if (key == "stage") {
            if (value == "cbw")
                f.stage = Fault::Stage::Cbw;
            else if (value == "data")
                f.stage = Fault::Stage::Data;
            else if (value == "csw")
                f.stage = Fault::Stage::Csw;
            else {
                *error = "stage is cbw, data or csw";
                return false;
            }
            continue;
        }
        if (!parseNumber(value, &n)) {
            *error = "bad number: " + w[i];
            return false;
        }
        if (key == "cmd")
            f.command = int(n);
        else if (key == "packet")
            f.packet = int(n);
        else if (key == "bytes")
            f.atByte = n;
        else if (key == "skip")
            f.skip = int(n);
        else if (key == "count")
            f.count = int(n);
        else if (key == "value")
            f.value = n;
        else {
            *error = "unknown fault key " + key;
            return false;
        }
    }
    *out = f;
    return true;
}

std::string faultText(const Fault &f)
{
    std::ostringstream s;
    s << faultName(f.kind);
    if (f.command >= 0) {
        char b[16];
        snprintf(b, sizeof b, "0x%02x", unsigned(f.command) & 0xffu);
        s << " cmd=" << b;
    }
    if (f.packet >= 0)
        s << " packet=" << f.packet;
    if (f.stage != Fault::Stage::Data)
        s << " stage=" << (f.stage == Fault::Stage::Cbw ? "cbw" : "csw");
    if (f.atByte >= 0)
        s << " bytes=" << f.atByte;
    if (f.skip)
        s << " skip=" << f.skip;
    if (f.count != 1)
        s << " count=" << f.count;
    if (f.value >= 0)
        s << " value=" << f.value;
    return s.str();
}

std::string describe(DeviceId id, bool detail)
{
    std::string kind, claimedBy;
    bool present = false;
    uint8_t address = 0;
    UsbPosition pos;
    if (!detail::entryState(id, &kind, &claimedBy, &present, &address, &pos))
        return "";
    std::ostringstream s;
    s << "#" << id << " " << kind << " " << pos.text() << " addr=" << int(address) << " "
      << (present ? "present" : "absent");
    if (!claimedBy.empty())
        s << " claimed_by=" << claimedBy;
    if (kind == "scripted") {
        const ScriptStatus st = scriptStatus(id);
        s << " steps=" << st.done << "/" << st.total << " errors=" << st.errors.size() << "\n";
        if (detail)
            for (const std::string &e : st.errors)
                s << "  error " << e;
        return s.str();
    }
    if (kind != "board")
        return s.str() + "\n";
    const BoardReport r = report(id);
    s << " mode=" << r.mode << " enumerations=" << r.enumerations << " restarts=" << r.restarts
      << " stalls=" << r.stalls << " fwcs=" << r.fwcs.size() << " fwc_bytes=" << r.fwcBytes
      << " shell=" << r.shellTexts.size() << " faults=" << r.pendingFaults.size()
      << " link_us=" << r.linkBusyNs / 1000 << " arrived_ns=" << r.arrivedNs
      << " first_command_ns=" << r.firstCommandNs << "\n";
    if (!detail)
        return s.str();
    for (const FwcRecord &f : r.fwcs) {
        s << "  fwc \"" << f.name << "\" part=\"" << f.partition << "\" attr=\"" << f.attributes
          << "\" meta_size=" << f.metaSize << " meta_crc=" << hex32(f.metaCrc)
          << " size=" << f.announcedSize << " received=" << f.received << " crc=" << hex32(f.crc)
          << " mode=" << f.mode;
        if (f.refused)
            s << " refused";
        if (f.closed)
            s << " closed";
        if (f.complete)
            s << " complete";
        if (f.restarted)
            s << " restarted";
        s << " entry=";
        for (uint8_t b : f.entry)
            s << "0123456789abcdef"[b >> 4] << "0123456789abcdef"[b & 15];
        s << "\n";
    }
    for (const std::string &t : r.shellTexts)
        s << "  shell \"" << t << "\"\n";
    for (const MemoryWrite &m : r.memoryWrites)
        s << "  write " << hex32(m.address) << " " << m.length << "\n";
    for (uint32_t v : r.execs)
        s << "  exec " << hex32(v) << "\n";
    for (uint32_t v : r.setU32s)
        s << "  set_u32 " << hex32(v) << "\n";
    for (const auto &c : r.upgradeConfigs)
        s << "  upgrade_config first_byte=" << int(c.empty() ? 0 : c[0]) << "\n";
    if (r.upgradeEnds)
        s << "  upgrade_end " << r.upgradeEnds << "\n";
    for (const auto &b : r.blobs)
        s << "  blob " << b.size() << "\n";
    for (const Fault &f : r.pendingFaults)
        s << "  fault " << faultText(f) << "\n";
    return s.str();
}

bool control(const std::string &line, std::string *reply)
{
    std::ostringstream out;
    auto fail = [&](const std::string &why) {
        *reply = "error: " + why + "\n";
        return false;
    };
    const std::vector<std::string> w = words(line);
    if (w.empty())
        return fail("empty command");
    const std::string &cmd = w[0];

    if (cmd == "plug" && w.size() >= 3 &&
        (w[1] == "board" || w[1] == "hub" || w[1] == "keyboard" || w[1] == "device")) {
        UsbPosition pos;
        if (!UsbPosition::parse(w[2], &pos))
            return fail("bad position " + w[2]);
        DeviceId id = kNoDevice;
        if (w[1] == "board") {
            BoardConfig c;
            c.position = pos;
            std::vector<std::pair<uint32_t, uint32_t>> u32s;
            for (size_t i = 3; i < w.size(); i++) {
                std::string key, value, error;
                if (!splitKey(w[i], &key, &value))
                    return fail("expected key=value: " + w[i]);
                if (!applyBoardOption(&c, key, value, &u32s, &error))
                    return fail(error);
            }
            id = addBoard(c);
            for (const auto &kv : u32s)
                detail::setBoardU32(id, kv.first, kv.second);
        } else {
            DeviceConfig c = w[1] == "hub"        ? DeviceConfig::hub(pos)
                             : w[1] == "keyboard" ? DeviceConfig::keyboard(pos)
                                                  : DeviceConfig::other(pos, 0x0781, 0x5567);
            for (size_t i = 3; i < w.size(); i++) {
                std::string key, value;
                int64_t n = 0;
                if (!splitKey(w[i], &key, &value) || !parseNumber(value, &n))
                    return fail("expected key=number: " + w[i]);
                if (key == "vid")
                    c.vendor = uint16_t(n);
                else if (key == "pid")
                    c.product = uint16_t(n);
                else if (key == "class")
                    c.deviceClass = uint8_t(n);
                else
                    return fail("unknown device option " + key);
            }
            id = addDevice(c);
        }
        if (id == kNoDevice)
            return fail("position " + w[2] + " is taken or invalid");
        *reply = "ok #" + std::to_string(id) + "\n";
        return true;
    }

    if (cmd == "state" || cmd == "received" || cmd == "list") {
        const bool detail = cmd == "received";
        if (w.size() >= 2) {
            const DeviceId id = resolve(w[1]);
            const std::string d = describe(id, detail);
            if (d.empty())
                return fail("no device " + w[1]);
            *reply = "ok\n" + d;
            return true;
        }
        out << "ok\n";
        for (DeviceId id : devices())
            out << describe(id, detail);
        *reply = out.str();
        return true;
    }

    if (cmd == "trace" && w.size() == 2) {
        setTraceFile(w[1] == "off" ? "" : w[1]);
        *reply = "ok\n";
        return true;
    }

    if (cmd == "remove" && w.size() == 2 && w[1] == "all") {
        removeAll();
        *reply = "ok\n";
        return true;
    }

    if (w.size() < 2)
        return fail("unknown or incomplete command: " + line);
    const DeviceId id = resolve(w[1]);
    if (id == kNoDevice)
        return fail("no device " + w[1]);

    if (cmd == "plug" && w.size() == 2) {
        if (!plug(id))
            return fail("cannot plug " + w[1] + " (present already or position taken)");
    } else if (cmd == "unplug" && w.size() == 2) {
        if (!unplug(id))
            return fail(w[1] + " is not present");
    } else if (cmd == "remove" && w.size() == 2) {
        remove(id);
    } else if (cmd == "restart") {
        int mode = 0;
        for (size_t i = 2; i < w.size(); i++) {
            std::string key, value;
            if (!splitKey(w[i], &key, &value) || key != "mode" || (value != "0" && value != "1"))
                return fail("restart DEVICE [mode=0|1]");
            mode = value == "1";
        }
        if (!restart(id, mode))
            return fail(w[1] + " is not a board");
    } else if (cmd == "fault") {
        if (w.size() == 3 && w[2] == "clear") {
            if (!clearFaults(id))
                return fail(w[1] + " is not a board");
        } else {
            std::string text, error;
            for (size_t i = 2; i < w.size(); i++)
                text += w[i] + " ";
            Fault f;
            if (!parseFault(text, &f, &error))
                return fail(error);
            if (!addFault(id, f))
                return fail(w[1] + " is not a board");
        }
    } else if (cmd == "set") {
        BoardConfig c;
        if (!boardConfig(id, &c))
            return fail(w[1] + " is not a board");
        std::vector<std::pair<uint32_t, uint32_t>> u32s;
        for (size_t i = 2; i < w.size(); i++) {
            std::string key, value, error;
            if (!splitKey(w[i], &key, &value))
                return fail("expected key=value: " + w[i]);
            if (!applyBoardOption(&c, key, value, &u32s, &error))
                return fail(error);
        }
        configure(id, c);
        for (const auto &kv : u32s)
            detail::setBoardU32(id, kv.first, kv.second);
    } else if (cmd == "memory" && w.size() == 4) {
        int64_t a = 0, n = 0;
        if (!parseNumber(w[2], &a) || !parseNumber(w[3], &n) || n < 0 || n > (1 << 20))
            return fail("memory DEVICE ADDRESS LENGTH (at most 1 MiB)");
        const std::vector<uint8_t> m = readMemory(id, uint32_t(a), uint32_t(n));
        *reply = "ok\n" + hexDump(m.data(), m.size());
        return true;
    } else if (cmd == "wait" && (w.size() == 3 || w.size() == 4) &&
               (w[2] == "present" || w[2] == "absent")) {
        int64_t ms = 10000;
        if (w.size() == 4 && !parseNumber(w[3], &ms))
            return fail("wait DEVICE present|absent [TIMEOUT_MS]");
        if (!waitPresent(id, w[2] == "present", int(ms)))
            return fail("timed out waiting for " + w[1] + " to be " + w[2]);
    } else {
        return fail("unknown or incomplete command: " + line);
    }
    *reply = "ok\n";
    return true;
}

} // namespace vboard
