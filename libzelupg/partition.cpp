#include "partition.h"

#include "zelupg_log.h"

#include <cstdlib>
#include <cstring>

namespace {

int digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

// Reads digits of the given base at *pp and moves *pp past them. No digit
// gives 0 and consumes nothing. The value wraps modulo 2^64.
uint64_t read_digits(const char **pp, unsigned base)
{
    uint64_t value = 0;
    const char *p = *pp;
    while (digit_value(*p) < int(base)) {
        value = value * base + unsigned(digit_value(*p));
        p++;
    }
    *pp = p;
    return value;
}

// A number in C notation: "0x"/"0X" and a hex digit for hexadecimal, a
// leading "0" for octal, decimal otherwise. Signs and blanks are not numbers.
uint64_t read_c_number(const char **pp)
{
    const char *p = *pp;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16) {
        *pp = p + 2;
        return read_digits(pp, 16);
    }
    if (p[0] == '0')
        return read_digits(pp, 8);
    return read_digits(pp, 10);
}

// Applies an optional k/m/g suffix (either case), then skips "iB" or "B".
uint64_t apply_suffix(uint64_t value, const char **pp)
{
    const char *p = *pp;
    switch (*p) {
    case 'g':
    case 'G':
        value <<= 10;
        [[fallthrough]];
    case 'm':
    case 'M':
        value <<= 10;
        [[fallthrough]];
    case 'k':
    case 'K':
        value <<= 10;
        p++;
        if (p[0] == 'i' && p[1] == 'B')
            p += 2;
        else if (p[0] == 'B')
            p++;
        break;
    default:
        break;
    }
    *pp = p;
    return value;
}

// Size of one entry: "-" for the rest of the medium, "s" up to the first ":"
// and a decimal number, or a C-notation number. False when an "s" size has no ":".
bool read_size(const char **pp, uint64_t *size)
{
    const char *p = *pp;
    if (*p == '-') {
        *size = 0;
        *pp = p + 1;
        return true;
    }
    if (*p == 's') {
        const char *colon = std::strchr(p, ':');
        if (!colon)
            return false;
        p = colon + 1;
        uint64_t value = read_digits(&p, 10);
        *size = apply_suffix(value, &p);
        *pp = p;
        return true;
    }
    uint64_t value = read_c_number(&p);
    *size = apply_suffix(value, &p);
    *pp = p;
    return true;
}

// Parses one entry at *pp into node. On success *pp points behind ")".
bool read_entry(const char **pp, uint64_t default_start, upg_partition *node)
{
    const char *p = *pp;
    uint64_t size = 0;
    uint64_t start = default_start;
    bool sized = read_size(&p, &size);
    if (sized && *p == '@') {
        p++;
        uint64_t value = read_c_number(&p);
        start = apply_suffix(value, &p);
    }
    if (!sized || *p != '(') {
        upg_err("Partition name should be next of size.");
        return false;
    }
    p++;
    const char *close = std::strchr(p, ')');
    if (!close) {
        upg_err("Partition name is not closed by \")\".");
        return false;
    }
    size_t len = size_t(close - p);
    if (len > UPG_PART_NAME_MAX)
        len = UPG_PART_NAME_MAX;
    std::memcpy(node->name, p, len);
    node->name[len] = '\0';
    node->start = start;
    node->size = size;
    node->next = nullptr;
    *pp = close + 1;
    return true;
}

} // namespace

upg_partition *zelupg_new_partition(const char *text, uint64_t first_start)
{
    if (!text)
        return nullptr;

    upg_partition *head = nullptr;
    upg_partition **tail = &head;
    uint64_t next_start = first_start;
    const char *p = text;
    for (;;) {
        upg_partition *node = static_cast<upg_partition *>(std::calloc(1, sizeof(*node)));
        if (!node) {
            upg_err("No mem");
            break;
        }
        if (!read_entry(&p, next_start, node)) {
            std::free(node);
            break;
        }
        upg_dbg("Part %s: start %u size %u", node->name, unsigned(node->start),
                unsigned(node->size));
        next_start = node->start + node->size;
        *tail = node;
        tail = &node->next;
        if (*p != ',')
            break;
        p++;
    }
    return head;
}

void zelupg_free_partition(upg_partition *head)
{
    while (head) {
        upg_partition *next = head->next;
        std::free(head);
        head = next;
    }
}

int zelupg_partition_count(const upg_partition *head)
{
    int count = 0;
    for (; head; head = head->next)
        count++;
    return count;
}
