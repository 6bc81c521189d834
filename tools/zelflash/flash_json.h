#pragma once
// One JSON object, built field by field and written as one line: what
// zelflash --json prints for each event.

#include <cstdint>
#include <string>

class JsonObject
{
public:
    JsonObject &add(const char *key, const std::string &value);
    JsonObject &add(const char *key, const char *value);
    JsonObject &add(const char *key, int64_t value);
    JsonObject &add(const char *key, uint64_t value);
    JsonObject &add(const char *key, int value) { return add(key, int64_t(value)); }
    JsonObject &add(const char *key, uint32_t value) { return add(key, uint64_t(value)); }
    JsonObject &add(const char *key, double value);
    JsonObject &add(const char *key, bool value);
    JsonObject &addNull(const char *key);
    // "{...}" without a newline.
    std::string text() const;

private:
    JsonObject &raw(const char *key, const std::string &value);
    std::string m_fields;
};

// The CRC as the JSON texts carry it: "0x" and eight lower-case hex digits.
std::string crcText(uint32_t crc);
