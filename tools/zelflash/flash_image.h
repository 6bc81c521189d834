#pragma once
// Looking at an image before any board is touched: a file that is not a
// regular file (a FIFO would block for ever), cannot be read, or whose header
// and component table do not hold together is refused at once. The check
// command also reads every component against the CRC of its table entry.

#include <cstdint>
#include <string>
#include <vector>

struct ComponentCheck {
    std::string name;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint32_t crc = 0;    // the table's
    uint32_t actual = 0; // of the bytes, when they were read
};

struct ImageCheck {
    uint64_t length = 0;
    std::vector<ComponentCheck> components;
    std::string error; // why the image is refused; empty when it is not
};

enum class LengthRule {
    WithEx,    // 2048 + meta size + file size + ex size (full burn, ram boot)
    WithoutEx, // 2048 + meta size + file size (the run up to the upgrade firmware)
};

// Reads the header and table of the image at path. With crcs, also reads every
// component and compares its CRC-32 with the table's; a mismatch names the
// component in error. Returns false when the image is refused.
bool checkImage(const std::string &path, LengthRule rule, bool crcs, ImageCheck *out);
