// The virtual board: the upgrade protocol seen from the device.
//
// Transport: every packet is one exchange of a 31-byte command wrapper
// ("USBC"), a data phase in the announced direction and length, and a 13-byte
// status wrapper ("USBS", same tag). Commands: a 16-byte "UPGC" header, the
// command's own packets and (for most) a response header and answer.
// Malformed input is stalled (LIBUSB_ERROR_PIPE); after a stall the board
// waits for a new command wrapper and a new command.
#pragma once

#include "device.h"

#include <map>
#include <memory>
#include <mutex>

namespace vboard {
namespace detail {

class Board : public Device {
public:
    Board(DeviceId id, const BoardConfig &config);

    TransferResult transfer(uint8_t ep, uint8_t *data, int len, unsigned timeoutMs) override;
    void enumerated(int mode) override;
    void left() override;
    void answered(Clock::time_point until, Clock::time_point at) override;

    // A restart asked from outside (API, control command): the plan for the bus.
    RestartPlan restartPlan(int mode);
    void addFault(const Fault &f);
    void clearFaults();
    BoardConfig config();
    void setConfig(const BoardConfig &c);
    BoardReport report();
    std::vector<uint8_t> readMemory(uint32_t address, uint32_t length);
    void setId(DeviceId id);
    void setU32(uint32_t key, uint32_t value); // answer of the u32 query for `key`

private:
    enum class Tx { Cbw, DataOut, DataIn, Csw };
    enum class Cs {
        Idle,     // waiting for a command header
        Args,     // waiting for the command's next OUT packet
        FwcData,  // between 0x12 start and the closing response
        Respond,  // answer pending for the host to read
    };
    enum Step {
        kNone,
        kAddrLen,   // 0x02, 0x03: address, length
        kWriteData, // 0x02 data
        kU32,       // 0x04, 0x08, 0x09
        kTextLen,   // 0x05
        kText,
        kBlobLen,   // 0x06
        kBlobData,
        kCfgLen,    // 0x0A, 0x0B: the value 32
        kCfg,
        kMeta,      // 0x10
        kPartReq,   // 0x17
        kReadReq,   // 0x18
    };
    struct ArmedFault {
        Fault f;
        bool armed;
    };

    uint32_t limit() const { return m_mode == 1 ? 65536u : 2048u; }
    TransferResult stall(const char *why);
    TransferResult transportOut(uint8_t *data, int len, unsigned timeoutMs);
    TransferResult transportIn(uint8_t *data, int len, unsigned timeoutMs);
    // Command layer: one OUT data phase; false = stall.
    bool commandOut(const uint8_t *p, uint32_t n, const char **why);
    bool commandHeader(const uint8_t *p, uint32_t n, const char **why);
    bool commandArgs(const uint8_t *p, uint32_t n, const char **why);
    bool fwcData(const uint8_t *p, uint32_t n, const char **why);
    // One IN data phase: bytes delivered, -1 = stall.
    int commandIn(uint8_t *p, uint32_t n, TransferResult *r);
    void respond(uint8_t status, const uint8_t *data, uint32_t len);
    void respondU32(uint8_t status, uint32_t v);
    void resetCommand();
    void resetTransport();
    bool fireTransferFault(Fault::Stage stage, unsigned timeoutMs, TransferResult *r);
    bool takeValueFault(FaultKind kind, int code, Fault *out);
    bool matches(ArmedFault &af, Fault::Stage stage);
    RestartPlan restartPlanLocked(int mode);
    std::vector<uint8_t> readMemoryLocked(uint32_t address, uint32_t length);
    bool consume(size_t index);
    void memWrite(uint32_t address, const uint8_t *p, uint32_t n);
    // Charges the link time of a transfer the host submitted at submitted.
    void linkCharge(TransferResult *r, int bytes, Clock::time_point submitted);
    void traceLine(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
    bool tracing() const { return m_config.trace || traceFileOn(); }
    FwcRecord *currentFwc();

    std::mutex m_mutex;
    DeviceId m_id;
    BoardConfig m_config;
    std::string m_label;
    int m_mode = 0;

    // Transport state.
    Tx m_tx = Tx::Cbw;
    uint32_t m_tag = 0;
    uint32_t m_dataLen = 0;
    uint32_t m_delivered = 0;
    bool m_leaveAfterCsw = false;
    uint64_t m_pktBefore = 0, m_pktAfter = 0; // FWC byte count around this packet

    // Command state.
    Cs m_cs = Cs::Idle;
    int m_code = -1;
    int m_packet = 0;
    int m_firstInPacket = -1;
    Step m_step = kNone;
    uint32_t m_hlen = 0;
    uint32_t m_a = 0, m_b = 0, m_got = 0;
    std::vector<uint8_t> m_acc;
    uint8_t m_respHeader[16];
    bool m_headerPending = false;
    std::vector<uint8_t> m_answer;
    size_t m_answerPos = 0;
    int m_fwc = -1;         // index of the entry the current FWC commands act on
    bool m_metaOk = false;  // the current entry was accepted
    uint64_t m_fwcLimit = 0; // announced size rounded up to the block size
    bool m_resetPending = false;

    // Link model.
    Clock::time_point m_linkFree{};
    Clock::duration m_answerLate{}; // the bus's own delay answering the last transfer

    // What the board received.
    BoardReport m_rep;
    std::map<uint32_t, std::unique_ptr<uint8_t[]>> m_memory; // 4 KiB pages
    std::vector<ArmedFault> m_faults;
    std::map<uint32_t, uint32_t> m_u32;
};

} // namespace detail
} // namespace vboard
