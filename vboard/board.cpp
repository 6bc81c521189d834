#include "board.h"

#include <libusb.h>
#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace vboard {
namespace detail {

namespace {

constexpr uint32_t kCbwSignature = 0x43425355; // "USBC"
constexpr uint32_t kCswSignature = 0x53425355; // "USBS"
constexpr uint32_t kHeaderMagic = 0x43475055;  // "UPGC"
constexpr uint32_t kPage = 4096;
constexpr uint32_t kMaxAnswer = 256u << 20;
constexpr size_t kMaxTraceLines = 200000;

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string fixedText(const uint8_t *p, size_t width)
{
    size_t n = 0;
    while (n < width && p[n])
        n++;
    return std::string(reinterpret_cast<const char *>(p), n);
}

bool isTransferFault(FaultKind k)
{
    return k == FaultKind::Stall || k == FaultKind::IoError || k == FaultKind::Timeout ||
           k == FaultKind::NoDevice;
}

bool isWrapperFault(FaultKind k) { return k == FaultKind::CswTag || k == FaultKind::CswSignature; }

bool isRestartFault(FaultKind k)
{
    return k == FaultKind::NeverReturn || k == FaultKind::OtherPort || k == FaultKind::ReturnLate;
}

} // namespace

Board::Board(DeviceId id, const BoardConfig &config) : m_id(id), m_config(config)
{
    m_mode = config.startInUpgradeMode ? 1 : 0;
    m_rep.id = id;
    m_answer.reserve(65536);
    m_acc.reserve(512);
    m_label = config.position.text() + " #" + std::to_string(id);
}

void Board::setId(DeviceId id)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_id = id;
    m_rep.id = id;
    m_label = m_config.position.text() + " #" + std::to_string(id);
}

void Board::enumerated(int mode)
{
    std::lock_guard<std::mutex> g(m_mutex);
    if (mode >= 0)
        m_mode = mode;
    resetTransport();
    resetCommand();
    m_fwc = -1;
    m_metaOk = false;
    m_linkFree = Clock::time_point{};
    m_answerLate = Clock::duration::zero();
    m_rep.enumerations++;
    m_rep.arrivedNs = nowNs();
    m_rep.firstCommandNs = 0;
    m_label = m_config.position.text() + " #" + std::to_string(m_id);
    if (tracing())
        traceLine("ENUM mode=%d", m_mode);
}

void Board::left()
{
    std::lock_guard<std::mutex> g(m_mutex);
    resetTransport();
    resetCommand();
    if (tracing())
        traceLine("LEFT");
}

// ---- transport ----------------------------------------------------------------

TransferResult Board::transfer(uint8_t ep, uint8_t *data, int len, unsigned timeoutMs)
{
    // A board takes bytes in as they arrive: its own work on a transfer
    // overlaps the transfer's time on the link.
    const Clock::time_point submitted = Clock::now();
    std::lock_guard<std::mutex> g(m_mutex);
    TransferResult r;
    if (len < 0 || (len > 0 && !data)) {
        r.rc = LIBUSB_ERROR_INVALID_PARAM;
        return r;
    }
    if (ep == m_config.outEndpoint)
        r = transportOut(data, len, timeoutMs);
    else if (ep == m_config.inEndpoint)
        r = transportIn(data, len, timeoutMs);
    else
        r = stall("transfer on an endpoint the board does not serve");
    if (m_config.link.enabled)
        linkCharge(&r, (ep & 0x80) ? r.transferred : len, submitted);
    return r;
}

TransferResult Board::transportOut(uint8_t *data, int len, unsigned timeoutMs)
{
    TransferResult r;
    switch (m_tx) {
    case Tx::Cbw: {
        if (len != 31)
            return stall("command wrapper is not 31 bytes");
        if (le32(data) != kCbwSignature)
            return stall("command wrapper signature is not USBC");
        const uint32_t tag = le32(data + 4);
        const uint32_t dlen = le32(data + 8);
        const uint8_t flags = data[12];
        if (flags != 0x00 && flags != 0x80)
            return stall("command wrapper flags are neither 0x00 nor 0x80");
        if (data[13] != 0 || data[14] != 1)
            return stall("command wrapper LUN or block length is wrong");
        if (data[15] != (flags ? 0x02 : 0x01))
            return stall("command block does not match the direction");
        if (dlen > limit())
            return stall("data phase above the board's packet limit");
        m_tag = tag;
        m_dataLen = dlen;
        m_delivered = 0;
        m_pktBefore = m_pktAfter = m_rep.fwcBytes;
        const bool newCommand = m_cs == Cs::Idle || (m_cs == Cs::Respond && flags == 0);
        if (newCommand) {
            m_code = -1;
            m_packet = 0;
            m_firstInPacket = -1;
        } else {
            m_packet++;
        }
        m_tx = flags ? Tx::DataIn : Tx::DataOut;
        if (tracing())
            traceLine("CBW tag=0x%08x len=%u dir=%s", tag, dlen, flags ? "in" : "out");
        if (fireTransferFault(Fault::Stage::Cbw, timeoutMs, &r))
            return r;
        r.transferred = 31;
        return r;
    }
    case Tx::DataOut: {
        if (uint32_t(len) != m_dataLen)
            return stall("data phase length differs from the command wrapper");
        const char *why = "malformed packet";
        if (!commandOut(data, uint32_t(len), &why))
            return stall(why);
        if (tracing())
            traceLine("OUT %d", len);
        if (fireTransferFault(Fault::Stage::Data, timeoutMs, &r))
            return r;
        m_tx = Tx::Csw;
        r.transferred = len;
        return r;
    }
    case Tx::DataIn:
    case Tx::Csw:
        break;
    }
    return stall("OUT transfer while the board has data or status to send");
}

TransferResult Board::transportIn(uint8_t *data, int len, unsigned timeoutMs)
{
    TransferResult r;
    if (m_tx == Tx::DataOut && m_dataLen == 0) {
        // Zero-length data phase skipped by the host: the status comes next.
        const char *why = "malformed packet";
        if (!commandOut(data, 0, &why))
            return stall(why);
        m_tx = Tx::Csw;
    }
    switch (m_tx) {
    case Tx::DataIn: {
        if (uint32_t(len) < m_dataLen) {
            r.rc = LIBUSB_ERROR_OVERFLOW;
            if (tracing())
                traceLine("OVERFLOW asked %d of %u", len, m_dataLen);
            resetTransport();
            resetCommand();
            return r;
        }
        if (m_firstInPacket < 0)
            m_firstInPacket = m_packet;
        if (fireTransferFault(Fault::Stage::Data, timeoutMs, &r))
            return r;
        const int n = commandIn(data, m_dataLen, &r);
        if (n == -2)
            return r; // the board restarts here
        if (n < 0)
            return stall("IN transfer while the board has nothing to send");
        m_delivered = uint32_t(n);
        m_tx = Tx::Csw;
        r.transferred = n;
        if (tracing())
            traceLine("IN %d", n);
        return r;
    }
    case Tx::Csw: {
        if (len < 13) {
            r.rc = LIBUSB_ERROR_OVERFLOW;
            resetTransport();
            resetCommand();
            return r;
        }
        if (fireTransferFault(Fault::Stage::Csw, timeoutMs, &r))
            return r;
        uint32_t signature = kCswSignature;
        uint32_t tag = m_tag;
        for (size_t i = 0; i < m_faults.size(); i++) {
            ArmedFault &af = m_faults[i];
            if (!isWrapperFault(af.f.kind) || !matches(af, Fault::Stage::Csw))
                continue;
            const FaultKind kind = af.f.kind;
            if (!consume(i))
                continue;
            if (kind == FaultKind::CswTag)
                tag = m_tag - 1;
            else
                signature = 0x53425355 ^ 0x00200000; // "USbS"
            if (tracing())
                traceLine("FAULT %s", faultName(kind).c_str());
            break;
        }
        put32(data, signature);
        put32(data + 4, tag);
        put32(data + 8, m_tx == Tx::Csw ? m_dataLen - std::min(m_dataLen, m_delivered) : 0);
        data[12] = 0;
        m_tx = Tx::Cbw;
        r.transferred = 13;
        if (tracing())
            traceLine("CSW tag=0x%08x", tag);
        if (m_leaveAfterCsw) {
            m_leaveAfterCsw = false;
            r.bus = TransferResult::Bus::Leave;
            r.restart = restartPlanLocked(0);
        }
        return r;
    }
    case Tx::Cbw:
    case Tx::DataOut:
        break;
    }
    return stall("IN transfer while the board waits for a command wrapper or data");
}

TransferResult Board::stall(const char *why)
{
    TransferResult r;
    r.rc = LIBUSB_ERROR_PIPE;
    m_rep.stalls++;
    if (tracing())
        traceLine("STALL %s", why);
    resetTransport();
    resetCommand();
    return r;
}

void Board::resetTransport()
{
    m_tx = Tx::Cbw;
    m_leaveAfterCsw = false;
}

void Board::resetCommand()
{
    m_cs = Cs::Idle;
    m_step = kNone;
    m_headerPending = false;
    m_answer.clear();
    m_answerPos = 0;
    m_resetPending = false;
}

void Board::linkCharge(TransferResult *r, int bytes, Clock::time_point submitted)
{
    // 512-byte packets, 13 per 125 us microframe, plus the turnaround.
    const int64_t packets = std::max<int64_t>(1, (int64_t(bytes) + 511) / 512);
    const auto cost = std::chrono::nanoseconds(packets * 125000 / 13) +
                      std::chrono::microseconds(m_config.link.turnaroundUs);
    // A late answer from a busy bus (a sleep that overshot, a farm thread
    // waiting for a CPU) delays the host's next transfer; that delay is the
    // bus's, so the link counts as busy from when the answer was due.
    const auto start = std::max(submitted - m_answerLate, m_linkFree);
    m_answerLate = Clock::duration::zero();
    m_linkFree = start + std::chrono::duration_cast<Clock::duration>(cost);
    m_rep.linkBusyNs += uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(cost).count());
    r->until = m_linkFree;
    if (m_config.link.busMbps) {
        r->busBytes = uint64_t(std::max(0, bytes));
        r->busNumber = m_config.position.bus;
        r->busMbps = m_config.link.busMbps;
    }
}

void Board::answered(Clock::time_point until, Clock::time_point at)
{
    std::lock_guard<std::mutex> g(m_mutex);
    if (until == m_linkFree && at > until)
        m_answerLate = at - until;
}

// ---- faults -------------------------------------------------------------------

bool Board::matches(ArmedFault &af, Fault::Stage stage)
{
    const Fault &f = af.f;
    const Fault::Stage want = isWrapperFault(f.kind) ? Fault::Stage::Csw : f.stage;
    if (stage != want)
        return false;
    if (f.atByte >= 0) {
        const uint64_t t = uint64_t(std::max<int64_t>(f.atByte, 1));
        return m_pktBefore < t && m_pktAfter >= t;
    }
    if (f.command >= 0) {
        if (m_code != f.command)
            return false;
        const int packet = f.packet >= 0 ? f.packet : m_firstInPacket;
        return packet >= 0 && m_packet == packet;
    }
    return true;
}

bool Board::consume(size_t index)
{
    Fault &f = m_faults[index].f;
    if (f.skip > 0) {
        f.skip--;
        return false;
    }
    if (f.count == 1)
        m_faults.erase(m_faults.begin() + long(index));
    else if (f.count > 1)
        f.count--;
    return true;
}

bool Board::fireTransferFault(Fault::Stage stage, unsigned timeoutMs, TransferResult *r)
{
    for (size_t i = 0; i < m_faults.size(); i++) {
        ArmedFault &af = m_faults[i];
        if (!isTransferFault(af.f.kind) || !matches(af, stage))
            continue;
        const FaultKind kind = af.f.kind;
        if (!consume(i))
            continue;
        if (tracing())
            traceLine("FAULT %s", faultName(kind).c_str());
        switch (kind) {
        case FaultKind::Stall:
            *r = stall("fault: stall");
            return true;
        case FaultKind::IoError:
            r->rc = LIBUSB_ERROR_IO;
            break;
        case FaultKind::Timeout:
            r->rc = LIBUSB_ERROR_TIMEOUT;
            r->waitMs = timeoutMs ? timeoutMs : 60000;
            if (m_config.timeoutCapMs)
                r->waitMs = std::min(r->waitMs, m_config.timeoutCapMs);
            break;
        default:
            r->rc = LIBUSB_ERROR_NO_DEVICE;
            r->bus = TransferResult::Bus::Unplug;
            break;
        }
        resetTransport();
        resetCommand();
        return true;
    }
    return false;
}

bool Board::takeValueFault(FaultKind kind, int code, Fault *out)
{
    for (size_t i = 0; i < m_faults.size(); i++) {
        ArmedFault &af = m_faults[i];
        if (af.f.kind != kind)
            continue;
        if (af.f.command >= 0 && af.f.command != code)
            continue;
        if (af.f.atByte >= 0 && !af.armed)
            continue;
        const Fault f = af.f;
        if (!consume(i))
            continue;
        *out = f;
        if (tracing())
            traceLine("FAULT %s", faultName(kind).c_str());
        return true;
    }
    return false;
}

void Board::addFault(const Fault &f)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_faults.push_back({f, false});
}

void Board::clearFaults()
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_faults.clear();
}

RestartPlan Board::restartPlan(int mode)
{
    std::lock_guard<std::mutex> g(m_mutex);
    return restartPlanLocked(mode);
}

RestartPlan Board::restartPlanLocked(int mode)
{
    RestartPlan p;
    p.mode = mode;
    p.delayMs = m_config.restartDelayMs;
    p.position = m_config.position;
    for (size_t i = 0; i < m_faults.size();) {
        const Fault f = m_faults[i].f;
        if (!isRestartFault(f.kind) || !consume(i)) {
            i++;
            continue;
        }
        if (f.kind == FaultKind::NeverReturn) {
            p.returns = false;
        } else if (f.kind == FaultKind::ReturnLate) {
            p.delayMs = f.value >= 0 ? uint32_t(f.value) : 15000;
        } else if (!p.position.ports.empty()) {
            uint8_t &last = p.position.ports.back();
            last = f.value >= 0 ? uint8_t(f.value) : uint8_t(last + 1);
        }
        if (tracing())
            traceLine("FAULT %s", faultName(f.kind).c_str());
        // A fault with count 1 was removed: index i now holds the next one.
        if (f.count != 1)
            i++;
    }
    m_rep.restarts++;
    return p;
}

// ---- command layer --------------------------------------------------------------

FwcRecord *Board::currentFwc()
{
    return m_fwc >= 0 && size_t(m_fwc) < m_rep.fwcs.size() ? &m_rep.fwcs[size_t(m_fwc)]
                                                          : nullptr;
}

void Board::respond(uint8_t status, const uint8_t *data, uint32_t len)
{
    uint32_t dlen = len;
    Fault f;
    if (takeValueFault(FaultKind::RespStatus, m_code, &f))
        status = f.value >= 0 ? uint8_t(f.value) : 1;
    if (takeValueFault(FaultKind::RespLength, m_code, &f))
        dlen = len + 1;
    uint8_t *h = m_respHeader;
    put32(h, kHeaderMagic);
    h[4] = 0x01;
    h[5] = 0x01;
    h[6] = uint8_t(m_code);
    h[7] = status;
    put32(h + 8, dlen);
    put32(h + 12, le32(h) + le32(h + 4) + le32(h + 8));
    m_headerPending = true;
    if (data)
        m_answer.assign(data, data + len);
    else
        m_answer.assign(len, 0);
    m_answerPos = 0;
    m_cs = Cs::Respond;
    m_step = kNone;
    if (tracing())
        traceLine("RESP code=0x%02x status=%u dlen=%u", unsigned(m_code), status, dlen);
}

void Board::respondU32(uint8_t status, uint32_t v)
{
    uint8_t b[4];
    put32(b, v);
    respond(status, b, 4);
}

bool Board::commandOut(const uint8_t *p, uint32_t n, const char **why)
{
    if (m_cs == Cs::FwcData)
        return fwcData(p, n, why);
    if (m_cs == Cs::Args)
        return commandArgs(p, n, why);
    return commandHeader(p, n, why);
}

bool Board::commandHeader(const uint8_t *p, uint32_t n, const char **why)
{
    if (n != 16) {
        *why = "command header is not 16 bytes";
        return false;
    }
    if (le32(p) != kHeaderMagic || p[4] != 0x01 || p[5] != 0x01) {
        *why = "command header magic is not UPGC 01 01";
        return false;
    }
    if (le32(p) + le32(p + 4) + le32(p + 8) != le32(p + 12)) {
        *why = "command header checksum is wrong";
        return false;
    }
    if (m_cs == Cs::Respond && tracing())
        traceLine("ABANDONED answer of 0x%02x", unsigned(m_code));
    resetCommand();
    m_code = p[6];
    m_hlen = le32(p + 8);
    m_rep.commands.push_back(m_code);
    if (!m_rep.firstCommandNs)
        m_rep.firstCommandNs = nowNs();
    if (tracing())
        traceLine("HDR code=0x%02x len=%u", unsigned(m_code), m_hlen);

    auto need = [&](bool ok, Step step) {
        if (!ok) {
            *why = "header length does not fit the command";
            return false;
        }
        m_step = step;
        m_cs = Cs::Args;
        return true;
    };
    auto lenIs = [&](uint32_t v) {
        if (m_hlen != v)
            *why = "header length does not fit the command";
        return m_hlen == v;
    };

    switch (m_code) {
    case 0x00: {
        if (!lenIs(0))
            return false;
        uint8_t hw[108] = {};
        const std::string &chip = m_config.chipName;
        memcpy(hw, chip.data(), std::min<size_t>(chip.size(), 31));
        const std::string serial = "VB" + std::to_string(m_id);
        memcpy(hw + 16, serial.data(), std::min<size_t>(serial.size(), 15));
        put32(hw + 32, 0x00010000);
        hw[40] = uint8_t(m_mode);
        put32(hw + 44, m_config.blockSize);
        respond(0, hw, sizeof hw);
        return true;
    }
    case 0x01: {
        if (!lenIs(0))
            return false;
        const std::string &t = m_config.traceInfo;
        respond(0, reinterpret_cast<const uint8_t *>(t.data()), uint32_t(t.size()));
        return true;
    }
    case 0x02:
        return need(m_hlen >= 8, kAddrLen);
    case 0x03:
        return need(m_hlen == 8, kAddrLen);
    case 0x04:
    case 0x08:
    case 0x09:
        return need(m_hlen == 4, kU32);
    case 0x05:
        return need(m_hlen >= 4, kTextLen);
    case 0x06:
        return need(m_hlen >= 4, kBlobLen);
    case 0x07:
        if (!lenIs(0))
            return false;
        respond(0, nullptr, 0);
        return true;
    case 0x0A:
    case 0x0B:
        return need(m_hlen == 36, kCfgLen);
    case 0x10:
        return need(m_hlen == 512, kMeta);
    case 0x11: {
        if (!lenIs(0))
            return false;
        Fault f;
        respondU32(0, takeValueFault(FaultKind::BlockSizeZero, 0x11, &f) ? 0 : m_config.blockSize);
        return true;
    }
    case 0x12: {
        FwcRecord *f = currentFwc();
        if (!f || !m_metaOk) {
            *why = "FWC data start without an accepted FWC entry";
            return false;
        }
        f->started = true;
        f->announcedSize = m_hlen;
        f->received = 0;
        f->crc = 0;
        f->closed = f->complete = f->restarted = false;
        f->data.clear();
        if (m_config.keepData)
            f->data.reserve(m_hlen);
        const uint64_t block = m_config.blockSize ? m_config.blockSize : 1;
        m_fwcLimit = (uint64_t(m_hlen) + block - 1) / block * block;
        m_cs = Cs::FwcData;
        return true;
    }
    case 0x13:
    case 0x14:
    case 0x15: {
        if (!lenIs(0))
            return false;
        const FwcRecord *f = currentFwc();
        if (!f || !f->closed) {
            respond(1, nullptr, 0);
            return true;
        }
        Fault fault;
        uint32_t v = 0;
        if (m_code == 0x13)
            v = takeValueFault(FaultKind::CrcMismatch, 0x13, &fault) ? ~f->crc : f->crc;
        else if (takeValueFault(m_code == 0x14 ? FaultKind::BurnFail : FaultKind::RunFail,
                                m_code, &fault))
            v = fault.value >= 0 ? uint32_t(fault.value) : 1;
        respondU32(0, v);
        return true;
    }
    case 0x16: {
        if (!lenIs(0))
            return false;
        const std::string &t = m_config.storageMedia;
        respond(0, reinterpret_cast<const uint8_t *>(t.data()), uint32_t(t.size()));
        return true;
    }
    case 0x17:
        // Real hosts announce 4 although the request is 68 bytes long.
        return need(m_hlen == 4 || m_hlen == 68, kPartReq);
    case 0x18:
        return need(m_hlen == 184, kReadReq);
    default:
        *why = "unknown command code";
        return false;
    }
}

bool Board::commandArgs(const uint8_t *p, uint32_t n, const char **why)
{
    auto bad = [&](const char *text) {
        *why = text;
        return false;
    };
    switch (m_step) {
    case kAddrLen:
        if (n != 8)
            return bad("address and length packet is not 8 bytes");
        m_a = le32(p);
        m_b = le32(p + 4);
        if (m_code == 0x02) {
            if (m_hlen != m_b + 8)
                return bad("header length does not match the write length");
            m_got = 0;
            if (m_b == 0) {
                m_rep.memoryWrites.push_back({m_a, 0});
                respond(0, nullptr, 0);
            } else {
                m_step = kWriteData;
            }
            return true;
        }
        if (m_b > kMaxAnswer) {
            respond(1, nullptr, 0);
            return true;
        }
        respond(0, nullptr, m_b);
        {
            const std::vector<uint8_t> mem = readMemoryLocked(m_a, m_b);
            std::copy(mem.begin(), mem.end(), m_answer.begin());
        }
        return true;
    case kWriteData:
        if (n > m_b - m_got)
            return bad("write data beyond the announced length");
        memWrite(m_a + m_got, p, n);
        m_got += n;
        if (m_got == m_b) {
            m_rep.memoryWrites.push_back({m_a, m_b});
            respond(0, nullptr, 0);
        }
        return true;
    case kU32: {
        if (n != 4)
            return bad("value packet is not 4 bytes");
        const uint32_t v = le32(p);
        if (m_code == 0x04) {
            m_rep.execs.push_back(v);
            respond(0, nullptr, 0);
        } else if (m_code == 0x08) {
            auto it = m_u32.find(v);
            respondU32(0, it == m_u32.end() ? 0 : it->second);
        } else {
            m_rep.setU32s.push_back(v);
            respond(0, nullptr, 0);
        }
        return true;
    }
    case kTextLen:
        if (n != 4)
            return bad("text length packet is not 4 bytes");
        m_b = le32(p);
        if (m_hlen != m_b + 4)
            return bad("header length does not match the text length");
        if (m_b > limit())
            return bad("text longer than one packet");
        if (m_b == 0) {
            m_rep.shellTexts.emplace_back();
            respond(0, nullptr, 0);
        } else {
            m_step = kText;
        }
        return true;
    case kText: {
        if (n != m_b)
            return bad("text packet length differs from the announced length");
        std::string text(reinterpret_cast<const char *>(p), n);
        if (tracing())
            traceLine("SHELL \"%s\"", text.c_str());
        const bool reset = text == "reset" || text.rfind("reset ", 0) == 0;
        m_rep.shellTexts.push_back(std::move(text));
        respond(0, nullptr, 0);
        m_resetPending = reset;
        return true;
    }
    case kBlobLen:
        if (n != 4)
            return bad("blob length packet is not 4 bytes");
        m_b = le32(p);
        if (m_hlen != m_b + 4)
            return bad("header length does not match the blob length");
        m_acc.clear();
        if (m_b == 0) {
            m_rep.blobs.emplace_back();
            respond(0, nullptr, 0);
        } else {
            m_step = kBlobData;
        }
        return true;
    case kBlobData:
        if (n > m_b - m_acc.size())
            return bad("blob data beyond the announced length");
        m_acc.insert(m_acc.end(), p, p + n);
        if (m_acc.size() == m_b) {
            m_rep.blobs.push_back(m_acc);
            respond(0, nullptr, 0);
        }
        return true;
    case kCfgLen:
        if (n != 4 || le32(p) != 32)
            return bad("configuration length packet is not the value 32");
        m_step = kCfg;
        return true;
    case kCfg:
        if (n != 32)
            return bad("configuration block is not 32 bytes");
        if (m_code == 0x0A)
            m_rep.upgradeConfigs.emplace_back(p, p + 32);
        else
            m_rep.upgradeEnds++;
        respond(0, nullptr, 0);
        return true;
    case kMeta: {
        if (n != 512)
            return bad("FWC entry is not 512 bytes");
        FwcRecord rec;
        rec.entry.assign(p, p + 512);
        rec.name = fixedText(p + 8, 64);
        rec.partition = fixedText(p + 72, 64);
        rec.metaSize = le32(p + 140);
        rec.metaCrc = le32(p + 144);
        rec.attributes = fixedText(p + 152, 64);
        rec.mode = m_mode;
        rec.refused = m_mode != 1 && rec.name.find("image.target") != std::string::npos;
        if (tracing())
            traceLine("META name=%s size=%u%s", rec.name.c_str(), rec.metaSize,
                      rec.refused ? " refused" : "");
        m_rep.fwcs.push_back(std::move(rec));
        m_fwc = int(m_rep.fwcs.size()) - 1;
        m_metaOk = !m_rep.fwcs.back().refused;
        respond(m_metaOk ? 0 : 1, nullptr, 0);
        return true;
    }
    case kPartReq: {
        if (n != 68)
            return bad("partition table request is not 68 bytes");
        const std::string &t = m_config.partitionTable;
        std::vector<uint8_t> s(t.begin(), t.end());
        s.push_back(0);
        if (s.size() > limit())
            respond(1, nullptr, 0);
        else
            respond(0, s.data(), uint32_t(s.size()));
        return true;
    }
    case kReadReq: {
        if (n != 184)
            return bad("FWC read request is not 184 bytes");
        const std::string name = fixedText(p, 64);
        const uint64_t offset = le64(p + 96);
        const uint64_t size = le64(p + 112);
        const FwcRecord *found = nullptr;
        for (const FwcRecord &f : m_rep.fwcs)
            if (f.name == name && f.closed && f.data.size() == f.announcedSize)
                found = &f;
        if (!found || (size >> 32) || size > kMaxAnswer || (found->announcedSize && !m_config.keepData)) {
            respond(1, nullptr, 0);
            return true;
        }
        respond(0, nullptr, uint32_t(size));
        for (uint64_t i = 0; i < size && offset + i < found->data.size(); i++)
            m_answer[i] = found->data[offset + i];
        return true;
    }
    case kNone:
        break;
    }
    return bad("unexpected packet");
}

bool Board::fwcData(const uint8_t *p, uint32_t n, const char **why)
{
    FwcRecord *f = currentFwc();
    if (!f || f->received + n > m_fwcLimit) {
        *why = "FWC data beyond the announced size rounded up to the block size";
        return false;
    }
    if (f->received < f->announcedSize) {
        const uint32_t own = uint32_t(std::min<uint64_t>(n, f->announcedSize - f->received));
        f->crc = uint32_t(crc32(f->crc, p, own));
        if (m_config.keepData)
            f->data.insert(f->data.end(), p, p + own);
    }
    f->received += n;
    m_pktBefore = m_rep.fwcBytes;
    m_rep.fwcBytes += n;
    m_pktAfter = m_rep.fwcBytes;
    for (ArmedFault &af : m_faults) {
        if (af.f.atByte < 0 || isTransferFault(af.f.kind) || isWrapperFault(af.f.kind))
            continue;
        const uint64_t t = uint64_t(std::max<int64_t>(af.f.atByte, 1));
        if (m_pktBefore < t && m_pktAfter >= t)
            af.armed = true;
    }
    return true;
}

int Board::commandIn(uint8_t *p, uint32_t n, TransferResult *r)
{
    if (m_cs == Cs::FwcData) {
        FwcRecord *f = currentFwc();
        f->closed = true;
        f->complete = f->received >= f->announcedSize;
        const std::string &stage = m_config.lastLoaderStage;
        if (!stage.empty() && f->name.find(stage) != std::string::npos) {
            // Last loader stage: the board starts it instead of answering.
            f->restarted = true;
            r->bus = TransferResult::Bus::Leave;
            r->restart = restartPlanLocked(1);
            switch (m_config.restartAnswer) {
            case RestartAnswer::Pipe:
                r->rc = LIBUSB_ERROR_PIPE;
                break;
            case RestartAnswer::Io:
                r->rc = LIBUSB_ERROR_IO;
                break;
            case RestartAnswer::Gone:
                r->rc = LIBUSB_ERROR_NO_DEVICE;
                break;
            case RestartAnswer::Silent:
                r->rc = LIBUSB_ERROR_TIMEOUT;
                r->waitMs = m_config.timeoutCapMs ? m_config.timeoutCapMs : 10000;
                break;
            }
            if (tracing())
                traceLine("RESTART after %s", f->name.c_str());
            resetTransport();
            resetCommand();
            return -2;
        }
        respond(f->complete ? 0 : 1, nullptr, 0);
    }
    if (m_cs != Cs::Respond)
        return -1;
    uint32_t delivered;
    if (m_headerPending) {
        if (n < 16)
            return -1;
        memcpy(p, m_respHeader, 16);
        m_headerPending = false;
        delivered = 16;
    } else {
        const size_t k = std::min<size_t>(n, m_answer.size() - m_answerPos);
        memcpy(p, m_answer.data() + m_answerPos, k);
        m_answerPos += k;
        delivered = uint32_t(k);
    }
    if (!m_headerPending && m_answerPos >= m_answer.size()) {
        m_cs = Cs::Idle;
        if (m_resetPending) {
            m_resetPending = false;
            m_leaveAfterCsw = true;
        }
    }
    return int(delivered);
}

// ---- memory and inspection --------------------------------------------------------

void Board::memWrite(uint32_t address, const uint8_t *p, uint32_t n)
{
    while (n) {
        const uint32_t page = address / kPage, off = address % kPage;
        const uint32_t k = std::min(n, kPage - off);
        auto &slot = m_memory[page];
        if (!slot) {
            slot.reset(new uint8_t[kPage]);
            memset(slot.get(), 0, kPage);
        }
        memcpy(slot.get() + off, p, k);
        address += k;
        p += k;
        n -= k;
    }
}

std::vector<uint8_t> Board::readMemoryLocked(uint32_t address, uint32_t length)
{
    std::vector<uint8_t> out(length, 0);
    uint32_t done = 0;
    while (done < length) {
        const uint32_t a = address + done;
        const uint32_t page = a / kPage, off = a % kPage;
        const uint32_t k = std::min(length - done, kPage - off);
        auto it = m_memory.find(page);
        if (it != m_memory.end())
            memcpy(out.data() + done, it->second.get() + off, k);
        done += k;
    }
    return out;
}

std::vector<uint8_t> Board::readMemory(uint32_t address, uint32_t length)
{
    std::lock_guard<std::mutex> g(m_mutex);
    return readMemoryLocked(address, length);
}

BoardConfig Board::config()
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_config;
}

void Board::setConfig(const BoardConfig &c)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_config = c;
}

void Board::setU32(uint32_t key, uint32_t value)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_u32[key] = value;
}

BoardReport Board::report()
{
    std::lock_guard<std::mutex> g(m_mutex);
    BoardReport r = m_rep;
    r.mode = m_mode;
    r.position = m_config.position;
    for (const ArmedFault &af : m_faults)
        r.pendingFaults.push_back(af.f);
    return r;
}

void Board::traceLine(const char *fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (m_config.trace && m_rep.trace.size() < kMaxTraceLines)
        m_rep.trace.emplace_back(buf);
    if (traceFileOn())
        traceFileLine("[" + m_label + "] " + buf);
}

} // namespace detail
} // namespace vboard
