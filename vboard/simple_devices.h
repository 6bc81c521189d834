#pragma once

#include "device.h"

#include <mutex>

namespace vboard {
namespace detail {

// Hubs, keyboards and other devices: they enumerate and open, and stall
// every transfer.
class PlainDevice : public Device {
public:
    TransferResult transfer(uint8_t ep, uint8_t *data, int len, unsigned timeoutMs) override;
};

// Walks a Script: see vboard_host.h.
class ScriptedDevice : public Device {
public:
    ScriptedDevice(const Script &script, uint8_t inEp, uint8_t outEp);
    TransferResult transfer(uint8_t ep, uint8_t *data, int len, unsigned timeoutMs) override;
    ScriptStatus status();

private:
    std::mutex m_mutex;
    std::vector<ScriptStep> m_steps;
    uint8_t m_in, m_out;
    size_t m_done = 0;
    std::vector<std::string> m_errors;
};

} // namespace detail
} // namespace vboard
