#include "upg_port_text.h"

#include "upg_device.h"

#include <cstdio>
#include <cstring>

namespace
{

// One decimal part of at most three digits ending at ':' or the text's end;
// advances *p behind it. False for an empty or longer part or a non-digit.
bool read_part(const char **p, unsigned *value)
{
    unsigned v = 0;
    int digits = 0;
    while (**p >= '0' && **p <= '9') {
        if (++digits > 3)
            return false;
        v = v * 10 + unsigned(**p - '0');
        (*p)++;
    }
    if (digits == 0 || (**p != ':' && **p != '\0'))
        return false;
    *value = v;
    return true;
}

} // namespace

char *upg_port_text(char *buf, size_t size, uint8_t bus, const uint8_t *port_path)
{
    if (!buf || size == 0)
        return buf;
    size_t used = 0;
    auto append = [&](const char *fmt, unsigned value) {
        if (used >= size)
            return;
        const int n = std::snprintf(buf + used, size - used, fmt, value);
        if (n > 0)
            used += size_t(n);
    };
    buf[0] = '\0';
    append("%u", bus);
    for (int i = 0; port_path && i < UPG_PORT_PATH_LEN && port_path[i] != 0; i++)
        append(":%u", port_path[i]);
    return buf;
}

int upg_port_text_parse(const char *text, uint8_t *bus, uint8_t *port_path)
{
    if (!text || !bus || !port_path)
        return -1;
    uint8_t path[UPG_PORT_PATH_LEN] = {};
    const char *p = text;
    unsigned value = 0;
    if (!read_part(&p, &value) || value < 1 || value >= UPG_BUS_ANY)
        return -1;
    const uint8_t b = uint8_t(value);
    int depth = 0;
    while (*p == ':') {
        p++;
        if (depth == UPG_PORT_PATH_LEN || !read_part(&p, &value) || value < 1 || value > 255)
            return -1;
        path[depth++] = uint8_t(value);
    }
    if (depth == 0 || *p != '\0')
        return -1;
    *bus = b;
    std::memcpy(port_path, path, sizeof(path));
    return 0;
}

int upg_port_is_serial(const char *text)
{
    if (!text)
        return 0;
    if (text[0] == '/')
        return 1;
    if (std::strncmp(text, "COM", 3) != 0 || text[3] == '\0')
        return 0;
    for (const char *p = text + 3; *p; p++)
        if (*p < '0' || *p > '9')
            return 0;
    return 1;
}
