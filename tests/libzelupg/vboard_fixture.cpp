#include "vboard_fixture.h"

#include "zelupg_log.h"
#include "zelupg_trans.h"

#include <algorithm>
#include <cstring>

namespace {

std::vector<LogLine> g_lines;

LogLine parse(int level, const char *raw)
{
    std::string line(raw);
    LogLine out{level, "", line};
    if (level == ZELUPG_LOG_PLAIN)
        return out;
    const size_t paren = line.find("()");
    const size_t colon = line.find(": ", paren);
    if (paren == std::string::npos || colon == std::string::npos)
        return out;
    out.func = line.substr(0, paren);
    out.text = line.substr(std::max<size_t>(colon + 2, 40));
    return out;
}

int hook(int level, const char *text)
{
    g_lines.push_back(parse(level, text));
    return 0;
}

}  // namespace

LogCapture::LogCapture()
{
    g_lines.clear();
    zelupg_set_log_hook(hook);
}

LogCapture::~LogCapture()
{
    zelupg_set_log_hook(nullptr);
    g_lines.clear();
}

const std::vector<LogLine> &LogCapture::lines() const
{
    return g_lines;
}

int LogCapture::count(int level, const std::string &func, const std::string &text) const
{
    return int(std::count_if(g_lines.begin(), g_lines.end(), [&](const LogLine &l) {
        return l.level == level && l.func == func && l.text == text;
    }));
}

int LogCapture::countPrefix(int level, const std::string &func, const std::string &prefix) const
{
    return int(std::count_if(g_lines.begin(), g_lines.end(), [&](const LogLine &l) {
        return l.level == level && l.func == func && l.text.compare(0, prefix.size(), prefix) == 0;
    }));
}

std::vector<std::string> LogCapture::nonDebug() const
{
    std::vector<std::string> out;
    for (const LogLine &l : g_lines)
        if (l.level != ZELUPG_LOG_DEBUG)
            out.push_back(l.func + ": " + l.text);
    return out;
}

void LogCapture::clear()
{
    g_lines.clear();
}

void VboardTest::SetUp()
{
    vboard::removeAll();
    libzelupg_exit();
    ASSERT_EQ(libzelupg_init(), 0);
    zelupg_set_max_packet(ZELUPG_PACKET_LIMIT_LOADER);
    upg_set_report_open_errors(0);
    upg_set_verbose_scan(0);
    log.clear();
}

void VboardTest::TearDown()
{
    upg_dev_close(dev);
    dev = nullptr;
    libzelupg_exit();
    vboard::removeAll();
}

upg_device *VboardTest::scripted(Wire &wire)
{
    const vboard::UsbPosition pos = position(1, {2, 3});
    scriptedId = vboard::addScripted(pos, wire.script());
    EXPECT_NE(scriptedId, vboard::kNoDevice);
    dev = openAt(pos);
    return dev;
}

::testing::AssertionResult VboardTest::scriptDone()
{
    const vboard::ScriptStatus st = vboard::scriptStatus(scriptedId);
    if (st.ok())
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    failure << "script step " << st.done << " of " << st.total;
    for (const std::string &e : st.errors)
        failure << "\n" << e;
    return failure;
}

std::vector<uint8_t> Wire::le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

std::vector<uint8_t> Wire::cbw(uint32_t tag, uint32_t length, bool in)
{
    std::vector<uint8_t> b = {'U', 'S', 'B', 'C'};
    for (uint8_t x : le32(tag))
        b.push_back(x);
    for (uint8_t x : le32(length))
        b.push_back(x);
    b.push_back(in ? 0x80 : 0x00);
    b.push_back(0x00);  // LUN
    b.push_back(0x01);  // command block length
    b.push_back(in ? 0x02 : 0x01);
    b.resize(31, 0);
    return b;
}

std::vector<uint8_t> Wire::csw(uint32_t tag, uint32_t residue, uint8_t status,
                               const char *signature)
{
    std::vector<uint8_t> b(signature, signature + 4);
    for (uint8_t x : le32(tag))
        b.push_back(x);
    for (uint8_t x : le32(residue))
        b.push_back(x);
    b.push_back(status);
    return b;
}

std::vector<uint8_t> Wire::commandHeader(uint8_t code, uint32_t length)
{
    const uint32_t magic = 'U' | 'P' << 8 | 'G' << 16 | uint32_t('C') << 24;
    const uint32_t word1 = 0x01 | 0x01 << 8 | uint32_t(code) << 16;
    std::vector<uint8_t> b;
    for (uint32_t w : {magic, word1, length, magic + word1 + length})
        for (uint8_t x : le32(w))
            b.push_back(x);
    return b;
}

Wire &Wire::send(const std::vector<uint8_t> &data)
{
    m_script.out(cbw(m_tag, uint32_t(data.size()), false));
    if (!data.empty())
        m_script.out(data);
    m_script.in(csw(m_tag));
    m_tag++;
    return *this;
}

Wire &Wire::recv(const std::vector<uint8_t> &data)
{
    m_script.out(cbw(m_tag, uint32_t(data.size()), true));
    if (!data.empty())
        m_script.in(data);
    m_script.in(csw(m_tag));
    m_tag++;
    return *this;
}

Wire &Wire::header(uint8_t code, uint32_t length)
{
    return send(commandHeader(code, length));
}

Wire &Wire::resp(uint8_t status, uint32_t dataLength)
{
    std::vector<uint8_t> r(16, 0xA5);  // the board's own bytes, not interpreted
    r[7] = status;
    const std::vector<uint8_t> len = le32(dataLength);
    std::copy(len.begin(), len.end(), r.begin() + 8);
    return recv(r);
}

Wire &Wire::u32(uint32_t value)
{
    return send(le32(value));
}

Wire &Wire::begin(uint32_t length, bool in)
{
    m_script.out(cbw(m_tag, length, in));
    return *this;
}

Wire &Wire::fail(bool out, int libusbError)
{
    m_script.fail(out, libusbError);
    m_tag++;
    return *this;
}

vboard::UsbPosition position(uint8_t bus, std::vector<uint8_t> ports)
{
    vboard::UsbPosition pos;
    pos.bus = bus;
    pos.ports = std::move(ports);
    return pos;
}

std::vector<uint8_t> portPath(const vboard::UsbPosition &pos)
{
    std::vector<uint8_t> path(pos.ports);
    path.resize(UPG_PORT_PATH_LEN, 0);
    return path;
}

upg_device *openAt(const vboard::UsbPosition &pos)
{
    upg_device *dev = upg_usb_dev_open(pos.bus, portPath(pos).data());
    EXPECT_NE(dev, nullptr) << "board at " << pos.text() << " did not open";
    return dev;
}
