#pragma once
// Partition list: the parsed form of a partition string such as
// "4m(uboot),0x800@0(boot),-(rootfs)", from the image's environment blob or
// from the device's answer to command 0x17.

#include <cstdint>

#define UPG_PART_NAME_MAX 32

struct upg_partition {
    char name[UPG_PART_NAME_MAX + 1]; // at most 32 characters, always NUL-terminated
    uint64_t start;                   // byte offset on the medium
    uint64_t size;                    // bytes; 0 means the rest of the medium
    upg_partition *next;
};

// Parses a NUL-terminated partition string into a singly linked list. Entries
// are separated by ","; each is size ("-", "s...:<decimal>" or a C-notation
// number with optional k/m/g suffix and "iB"/"B"), optional "@start", then
// "(name)". An entry without a start begins where the previous one ends; the
// first one at first_start (0x4400 for the image's env, 0 for the device's
// answer). Returns null (after an error message) when an entry is malformed,
// and null without a message for a null text. Free with zelupg_free_partition.
upg_partition *zelupg_new_partition(const char *text, uint64_t first_start);

// Frees a whole list, node by node. Null is fine.
void zelupg_free_partition(upg_partition *head);

// Number of nodes in the list.
int zelupg_partition_count(const upg_partition *head);
