// Devices without the upgrade protocol: plain devices (hubs, keyboards,
// others) and scripted devices for wire-exact tests.
#include "simple_devices.h"

#include <libusb.h>

#include <cstdio>
#include <sstream>

namespace vboard {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::vector<uint8_t> fromHex(const std::string &hex, std::vector<bool> *wildcard)
{
    std::vector<uint8_t> out;
    if (wildcard)
        wildcard->clear();
    int high = -1;
    bool any = false;
    for (char c : hex) {
        if (c == ' ' || c == '\t' || c == '\n' || c == ':' || c == '-')
            continue;
        if (c == '?') {
            if (any) {
                out.push_back(0);
                if (wildcard)
                    wildcard->push_back(true);
                any = false;
            } else {
                any = true;
            }
            continue;
        }
        const int v = hexValue(c);
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(uint8_t(high << 4 | v));
            if (wildcard)
                wildcard->push_back(false);
            high = -1;
        }
    }
    return out;
}

std::string hexDump(const uint8_t *data, size_t len)
{
    std::string s;
    char line[128];
    for (size_t i = 0; i < len; i += 16) {
        int n = snprintf(line, sizeof line, "  %04zx:", i);
        for (size_t j = i; j < i + 16 && j < len; j++)
            n += snprintf(line + n, sizeof line - size_t(n), " %02x", data[j]);
        s += line;
        s += '\n';
    }
    if (len == 0)
        s = "  (empty)\n";
    return s;
}

Script &Script::out(const std::vector<uint8_t> &bytes)
{
    m_steps.push_back({true, bytes, {}, 0});
    return *this;
}

Script &Script::out(const std::string &hex)
{
    ScriptStep s;
    s.out = true;
    s.bytes = fromHex(hex, &s.wildcard);
    m_steps.push_back(s);
    return *this;
}

Script &Script::in(const std::vector<uint8_t> &bytes)
{
    m_steps.push_back({false, bytes, {}, 0});
    return *this;
}

Script &Script::in(const std::string &hex) { return in(fromHex(hex)); }

Script &Script::fail(bool out, int libusbError)
{
    m_steps.push_back({out, {}, {}, libusbError});
    return *this;
}

namespace detail {

TransferResult PlainDevice::transfer(uint8_t, uint8_t *, int, unsigned)
{
    TransferResult r;
    r.rc = LIBUSB_ERROR_PIPE;
    return r;
}

ScriptedDevice::ScriptedDevice(const Script &script, uint8_t inEp, uint8_t outEp)
    : m_steps(script.steps()), m_in(inEp), m_out(outEp)
{
}

TransferResult ScriptedDevice::transfer(uint8_t ep, uint8_t *data, int len, unsigned)
{
    std::lock_guard<std::mutex> g(m_mutex);
    TransferResult r;
    const bool isIn = (ep & 0x80) != 0;
    std::ostringstream err;
    const size_t index = m_done;
    if (ep != m_in && ep != m_out) {
        err << "transfer on endpoint 0x" << std::hex << int(ep) << " that the script does not serve\n";
    } else if (m_done >= m_steps.size()) {
        err << "step " << index << ": unexpected " << (isIn ? "IN" : "OUT")
            << " transfer after the end of the script\n";
        if (!isIn)
            err << "actual:\n" << hexDump(data, size_t(len));
    } else {
        const ScriptStep &s = m_steps[m_done++];
        if (s.out == isIn) {
            err << "step " << index << ": expected an " << (s.out ? "OUT" : "IN") << " transfer, got "
                << (isIn ? "IN" : "OUT") << "\n";
            if (s.out)
                err << "expected:\n" << hexDump(s.bytes.data(), s.bytes.size());
            if (!isIn)
                err << "actual:\n" << hexDump(data, size_t(len));
        } else if (s.result != 0) {
            r.rc = s.result;
            return r;
        } else if (!isIn) {
            bool same = size_t(len) == s.bytes.size();
            for (size_t i = 0; same && i < s.bytes.size(); i++)
                same = data[i] == s.bytes[i] || (i < s.wildcard.size() && s.wildcard[i]);
            if (same) {
                r.transferred = len;
                return r;
            }
            err << "step " << index << ": OUT packet differs\nexpected (" << s.bytes.size()
                << " bytes):\n"
                << hexDump(s.bytes.data(), s.bytes.size()) << "actual (" << len << " bytes):\n"
                << hexDump(data, size_t(len));
        } else if (s.bytes.size() > size_t(len)) {
            err << "step " << index << ": IN reply of " << s.bytes.size()
                << " bytes does not fit the host's " << len << "-byte transfer\n";
            r.rc = LIBUSB_ERROR_OVERFLOW;
        } else {
            memcpy(data, s.bytes.data(), s.bytes.size());
            r.transferred = int(s.bytes.size());
            return r;
        }
    }
    const std::string text = err.str();
    fprintf(stderr, "vboard script mismatch: %s", text.c_str());
    m_errors.push_back(text);
    if (r.rc == 0)
        r.rc = LIBUSB_ERROR_PIPE;
    return r;
}

ScriptStatus ScriptedDevice::status()
{
    std::lock_guard<std::mutex> g(m_mutex);
    ScriptStatus s;
    s.done = m_done;
    s.total = m_steps.size();
    s.errors = m_errors;
    return s;
}

} // namespace detail
} // namespace vboard
