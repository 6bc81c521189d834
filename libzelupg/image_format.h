#pragma once
// Firmware image format: the header, the FWC table entries and the
// three readers. The library only reads images; tools/zelimg builds them.
//
// File layout: header (2048 bytes) at 0, FWC table (meta size bytes, 512 per
// entry) at 2048, FWC data where each entry says. Every integer in the file is
// 32-bit little-endian; the readers decode it byte by byte, whatever the host.
// The in-memory records below hold host-order integers.

#include <cstddef>
#include <cstdint>

struct upg_partition;

#define IMAGE_MAGIC "ZEL.FW" // plus its NUL: file bytes 0..6
#define IMAGE_MAGIC_CHECK_LEN 7
#define IMAGE_ENV_FWC_NAME "image.updater.env"
#define IMAGE_ENV_PARTS_KEY "parts_mmc"

enum {
    IMAGE_HEADER_SIZE = 2048,       // header on disk and in memory
    IMAGE_META_OFFSET = 2048,       // where the readers take the FWC table from
    FWC_META_DISK_SIZE = 512,       // one table entry on disk
    FWC_META_MEM_SIZE = 216,        // meaningful part kept in memory
    FWC_META_SHIFT = 9,             // entry count = meta size >> 9
    IMAGE_ENV_FIRST_START = 0x4400, // first partition's start (34 blocks of 512)
    // Most FWC table entries any reader accepts. A real image carries its
    // loader stages, the environment and one component per partition (a GPT
    // holds at most 128), so 1024 leaves ample room while a header claiming
    // millions of entries costs at most 512 KiB of table read (216 KiB of
    // records) instead of gigabytes and hours of empty components.
    IMAGE_MAX_FWC_COUNT = 1024,
};

// The 2048-byte image header. Text fields hold NUL-terminated text; after
// decoding, the last byte of every text field is forced to NUL so a field that
// fills its whole width can never be read past.
struct image_header {
    char magic[8];           // 0    "ZEL.FW\0", byte 7 unchecked
    char platform[64];       // 8
    char product[64];        // 72
    char version[64];        // 136
    char media_type[64];     // 200  sent in the ram-boot command
    uint32_t media_dev_num;  // 264
    char media_id[64];       // 268
    uint32_t meta_offset;    // 332  informational
    uint32_t meta_size;      // 336  bytes of FWC table
    uint32_t file_offset;    // 340  informational
    uint32_t file_size;      // 344  bytes of FWC data
    uint32_t ex_flag;        // 348
    uint32_t ex_offset;      // 352
    uint32_t ex_size;        // 356
    uint8_t reserved[1688];  // 360  not read
};

// One FWC table entry as kept in memory: the first 216 bytes of the 512-byte
// entry on disk (magic through attributes). Text fields are NUL-terminated as
// for image_header.
struct fwc_meta {
    char magic[8];       // 0    printed, not checked
    char name[64];       // 8    dotted FWC name
    char partition[64];  // 72   target partition
    uint32_t offset;     // 136  absolute file offset of the FWC bytes
    uint32_t size;       // 140  FWC length
    uint32_t crc;        // 144  CRC-32 (zlib) of the FWC bytes, as the device computes it
    uint32_t ram;        // 148  load address in device memory
    char attributes[64]; // 152  keywords such as "burn" and "run"
};

// Reads the first 2048 bytes of the file into hdr and checks the magic, the
// length rule 2048 + meta size + file size and the table bound
// (IMAGE_MAX_FWC_COUNT entries). 0 when valid, -1 otherwise
// (hdr then holds whatever was read, zero-filled behind a short read).
int image_hdr_read(const char *path, image_header *hdr);

// Reads count 512-byte entries from offset 2048 into records[0..count-1]
// (216 bytes each). Fails, with a message, when count exceeds
// IMAGE_MAX_FWC_COUNT or the table or any entry's bytes (offset + size) lie
// past the end of the file. 0 or -1.
int image_meta_read(const char *path, fwc_meta *records, int count);

// Reads the environment blob (size bytes at offset), finds the string whose
// key starts with key and parses its value with zelupg_new_partition, first
// start 0x4400. Returns the list head (free it with zelupg_free_partition) or
// null on failure.
upg_partition *image_partition_read(const char *path, const char *key, uint32_t offset,
                                    uint32_t size);

// Explicit little-endian decoding of on-disk records. raw must hold
// IMAGE_HEADER_SIZE bytes, respectively FWC_META_MEM_SIZE bytes (a whole
// 512-byte entry is fine). Text fields are NUL-terminated in the result.
void image_header_decode(const uint8_t *raw, image_header *hdr);
void fwc_meta_decode(const uint8_t *raw, fwc_meta *meta);
