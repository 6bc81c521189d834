// Test helpers for the library's USB side: a capturing log hook, a fixture
// that starts every test with an initialised library and an empty virtual bus,
// and a builder for the exact packets a host exchanges with a board.
#pragma once

#include "upg_device.h"
#include "vboard_host.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct LogLine {
    int level;
    std::string func;  // function name of the prefix, empty for plain text
    std::string text;  // message behind the 40-column prefix
};

// Captures every library message while alive.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    const std::vector<LogLine> &lines() const;
    // Number of messages of level with exactly this function name and text.
    int count(int level, const std::string &func, const std::string &text) const;
    // Number of messages of level whose text starts with prefix.
    int countPrefix(int level, const std::string &func, const std::string &prefix) const;
    // Messages of levels 0..6 (everything but debug), as "func: text".
    std::vector<std::string> nonDebug() const;
    void clear();
};

class Wire;

// Every test starts and ends with the library initialised afresh (tag counter
// 0, packet limit 2048, switches off) and the in-process bus empty.
class VboardTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Puts a scripted device with the steps of wire at bus 1, ports 2-3 and
    // opens it; the fixture closes it at the end.
    upg_device *scripted(Wire &wire);
    // Every scripted step ran, without a mismatch and without extra transfers.
    ::testing::AssertionResult scriptDone();

    LogCapture log;
    vboard::DeviceId scriptedId = vboard::kNoDevice;
    upg_device *dev = nullptr;
};

// The bytes of one host-board exchange, built independently of the library.
// Each packet takes the next tag from 0, as the library does after init.
class Wire {
public:
    // Host-to-board packet: wrapper, data, status wrapper.
    Wire &send(const std::vector<uint8_t> &data);
    // Board-to-host packet: wrapper, the board's data, status wrapper.
    Wire &recv(const std::vector<uint8_t> &data);
    // Command header "UPGC" 01 01 code 00, length, checksum.
    Wire &header(uint8_t code, uint32_t length);
    // Response header with status at byte 7 and the data length at byte 8.
    Wire &resp(uint8_t status, uint32_t dataLength);
    Wire &u32(uint32_t value);
    // The command wrapper of the current packet alone, for a packet that then fails.
    Wire &begin(uint32_t length, bool in);
    // The next transfer in that direction fails with a libusb code; the
    // packet ends there and the next one takes the next tag.
    Wire &fail(bool out, int libusbError);

    vboard::Script &script() { return m_script; }
    uint32_t nextTag() const { return m_tag; }

    static std::vector<uint8_t> cbw(uint32_t tag, uint32_t length, bool in);
    static std::vector<uint8_t> csw(uint32_t tag, uint32_t residue = 0, uint8_t status = 0,
                                    const char *signature = "USBS");
    static std::vector<uint8_t> commandHeader(uint8_t code, uint32_t length);
    static std::vector<uint8_t> le32(uint32_t value);

private:
    vboard::Script m_script;
    uint32_t m_tag = 0;
};

// Default board position used by the tests: bus 1, ports 2-3.
vboard::UsbPosition position(uint8_t bus, std::vector<uint8_t> ports);
// 7-byte port path of a position, zero behind the last port.
std::vector<uint8_t> portPath(const vboard::UsbPosition &pos);

// Opens the board at pos through the library (asserting it opens).
upg_device *openAt(const vboard::UsbPosition &pos);
