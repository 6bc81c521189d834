// A virtual board on a serial line: the board's side of the framing and the
// handshakes, over a pseudo-terminal pair, in front of the same board model
// the USB side uses.
//
// The host opens path() as its serial port. The board answers 'C' with ACK,
// DC1 with ACK and then takes the host's frames (ACK, NAK on a bad CRC,
// nothing on a wrong complement, a repeated block acknowledged but not taken
// twice), and DC2 with ACK and then sends the next phase the board owes
// (data of a board-to-host packet, or a status wrapper) in frames, waiting
// for each ACK and repeating on NAK or silence. The byte stream the host
// sends is cut into the command wrapper (31 bytes) and data phases the
// wrapper announces, and each is handed to the board model as one transfer.
//
// The link model (on by default) charges every byte 10 bit times of the
// baud rate in each direction: bytes the host writes are acted on once they
// would have arrived, and the board's bytes reach the host at the pace of
// the line.
//
// At a restart (after its last loader stage) the board ends the closing
// response with CAN, stays silent for the restart delay, comes back in
// upgrade mode and sends 'A' to ask for a new connection handshake.
#pragma once

#include "vboard_host.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vboard {

enum class SerialFaultKind {
    Silent,        // no answer at all
    Attention,     // 'A' in place of the answer, or in place of a board frame
    Nak,           // a good host frame answered with NAK (not taken)
    BadCrc,        // a board frame with its CRC inverted
    BadComplement, // a board frame whose complement byte is wrong
    Can,           // CAN in place of a board frame: the phase ends early
    Noise,         // `value` bytes of line noise (0x55, 0xAA, ...) before a request's
                   //   answer or a board frame
    LostAck,       // BoardFrame: the board misses the host's ACK and sends the frame again;
                   //   HostFrame: the board takes the frame but its ACK is lost on the line
    FalseStart,    // `value` bytes of noise that hold frame-start bytes (0x01, 0x02, ...)
                   //   before a board frame
    Late,          // the answer to 'C', DC1 or DC2 comes only after `value` ms
};

// Where a fault fires: the answer to 'C', DC1 or DC2, the answer to a host
// frame, a board frame, or whichever of these comes next.
enum class SerialPoint { Any, Connect, Dc1, Dc2, HostFrame, BoardFrame };

// Each fault counts the occasions it applies to (every frame the board sends,
// repeats included, is one occasion at BoardFrame), lets `skip` of them pass
// and fires on the next where no fault added before it fires.
struct SerialFault {
    SerialFaultKind kind = SerialFaultKind::Silent;
    SerialPoint at = SerialPoint::Any;
    int skip = 0;  // matching occasions that pass first
    int count = 1; // times it fires; 0 = every time
    int value = 8; // Noise, FalseStart: bytes of noise; Late: milliseconds
};

struct SerialConfig {
    BoardConfig board;     // the board model's own configuration
    bool link = true;      // the line's timing
    uint32_t baud = 115200;
    int frameAnswerMs = 300; // how long the board waits for the host's answer to its frame
    bool canAfterPhase = false; // CAN after the last frame of every phase
};

struct SerialFrameRecord {
    bool isLong = false;
    uint8_t block = 0;
    int length = 0; // data bytes
    enum class Outcome { Taken, Repeat, BadCrc, BadComplement, Refused, Incomplete } outcome =
        Outcome::Taken;
};

struct SerialReport {
    int connects = 0; // 'C' received
    int dc1s = 0;
    int dc2s = 0;
    std::vector<SerialFrameRecord> hostFrames;  // frames the host sent, in order
    std::vector<SerialFrameRecord> boardFrames; // frames the board sent (repeats included)
    std::vector<int> answers; // the host's answer to each board frame: the byte, -1 for none
    std::vector<uint8_t> strays; // bytes that were neither a request nor a frame start
    uint64_t hostBytes = 0;   // bytes the host sent
    uint64_t boardBytes = 0;  // bytes the board sent
    int restarts = 0;
    bool down = false; // silent in a restart
};

class SerialBoard {
public:
    explicit SerialBoard(const SerialConfig &config = SerialConfig());
    ~SerialBoard();
    SerialBoard(const SerialBoard &) = delete;
    SerialBoard &operator=(const SerialBoard &) = delete;

    // False when no pseudo-terminal could be had (error() says why).
    bool ok() const;
    std::string error() const;
    // The device path the host opens, e.g. /dev/pts/7.
    std::string path() const;

    void addFault(const SerialFault &fault);
    void clearFaults();

    SerialReport report();
    BoardReport boardReport();

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

// CRC-16/XMODEM as the board computes it (bitwise, independent of the host's).
uint16_t serialCrc16(const uint8_t *data, size_t len);

} // namespace vboard
