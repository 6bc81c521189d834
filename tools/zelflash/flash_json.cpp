#include "flash_json.h"

#include <cstdio>

namespace
{

// A JSON string literal; control characters and bytes that are not ASCII
// are escaped, so a line stays valid whatever a file or board name holds.
std::string quoted(const std::string &text)
{
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char esc[8];
            std::snprintf(esc, sizeof(esc), "\\u%04x", unsigned(c));
            out += esc;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

} // namespace

JsonObject &JsonObject::raw(const char *key, const std::string &value)
{
    if (!m_fields.empty())
        m_fields += ",";
    m_fields += quoted(key) + ":" + value;
    return *this;
}

JsonObject &JsonObject::add(const char *key, const std::string &value)
{
    return raw(key, quoted(value));
}

JsonObject &JsonObject::add(const char *key, const char *value)
{
    return value ? raw(key, quoted(value)) : addNull(key);
}

JsonObject &JsonObject::add(const char *key, int64_t value)
{
    return raw(key, std::to_string(value));
}

JsonObject &JsonObject::add(const char *key, uint64_t value)
{
    return raw(key, std::to_string(value));
}

JsonObject &JsonObject::add(const char *key, double value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", value);
    return raw(key, text);
}

JsonObject &JsonObject::add(const char *key, bool value)
{
    return raw(key, value ? "true" : "false");
}

JsonObject &JsonObject::addNull(const char *key)
{
    return raw(key, "null");
}

std::string JsonObject::text() const
{
    return "{" + m_fields + "}";
}

std::string crcText(uint32_t crc)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08x", crc);
    return text;
}
