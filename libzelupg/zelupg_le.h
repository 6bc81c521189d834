#pragma once
// Little-endian field access for wire and file records: fields are copied byte
// by byte, never by casting a buffer to a struct, so host order never matters.

#include <cstdint>

inline void zelupg_put_le32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline uint32_t zelupg_get_le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint64_t zelupg_get_le64(const uint8_t *p)
{
    return uint64_t(zelupg_get_le32(p)) | uint64_t(zelupg_get_le32(p + 4)) << 32;
}
