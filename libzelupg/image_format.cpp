#include "image_format.h"

#include "image_file.h"
#include "partition.h"
#include "zelupg_le.h"
#include "zelupg_log.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

// The in-memory records mirror the file layout field for field; the decoders
// below nevertheless read every field from its own file offset.
static_assert(sizeof(image_header) == IMAGE_HEADER_SIZE, "image_header is 2048 bytes");
static_assert(offsetof(image_header, platform) == 8, "platform at 8");
static_assert(offsetof(image_header, product) == 72, "product at 72");
static_assert(offsetof(image_header, version) == 136, "version at 136");
static_assert(offsetof(image_header, media_type) == 200, "media type at 200");
static_assert(offsetof(image_header, media_dev_num) == 264, "media device number at 264");
static_assert(offsetof(image_header, media_id) == 268, "media id at 268");
static_assert(offsetof(image_header, meta_offset) == 332, "meta offset at 332");
static_assert(offsetof(image_header, meta_size) == 336, "meta size at 336");
static_assert(offsetof(image_header, file_offset) == 340, "file offset at 340");
static_assert(offsetof(image_header, file_size) == 344, "file size at 344");
static_assert(offsetof(image_header, ex_flag) == 348, "ex flag at 348");
static_assert(offsetof(image_header, ex_offset) == 352, "ex offset at 352");
static_assert(offsetof(image_header, ex_size) == 356, "ex size at 356");
static_assert(offsetof(image_header, reserved) == 360, "reserved at 360");

static_assert(sizeof(fwc_meta) == FWC_META_MEM_SIZE, "fwc_meta is 216 bytes in memory");
static_assert(offsetof(fwc_meta, name) == 8, "name at 8");
static_assert(offsetof(fwc_meta, partition) == 72, "partition at 72");
static_assert(offsetof(fwc_meta, offset) == 136, "offset at 136");
static_assert(offsetof(fwc_meta, size) == 140, "size at 140");
static_assert(offsetof(fwc_meta, crc) == 144, "crc at 144");
static_assert(offsetof(fwc_meta, ram) == 148, "ram at 148");
static_assert(offsetof(fwc_meta, attributes) == 152, "attributes at 152");
static_assert(FWC_META_DISK_SIZE == 1 << FWC_META_SHIFT, "entry count is meta size >> 9");

namespace {

template <size_t N> void copy_text(char (&field)[N], const uint8_t *raw, size_t offset)
{
    std::memcpy(field, raw + offset, N);
    field[N - 1] = '\0';
}

} // namespace

void image_header_decode(const uint8_t *raw, image_header *hdr)
{
    copy_text(hdr->magic, raw, 0);
    copy_text(hdr->platform, raw, 8);
    copy_text(hdr->product, raw, 72);
    copy_text(hdr->version, raw, 136);
    copy_text(hdr->media_type, raw, 200);
    hdr->media_dev_num = zelupg_get_le32(raw + 264);
    copy_text(hdr->media_id, raw, 268);
    hdr->meta_offset = zelupg_get_le32(raw + 332);
    hdr->meta_size = zelupg_get_le32(raw + 336);
    hdr->file_offset = zelupg_get_le32(raw + 340);
    hdr->file_size = zelupg_get_le32(raw + 344);
    hdr->ex_flag = zelupg_get_le32(raw + 348);
    hdr->ex_offset = zelupg_get_le32(raw + 352);
    hdr->ex_size = zelupg_get_le32(raw + 356);
    std::memcpy(hdr->reserved, raw + 360, sizeof(hdr->reserved));
}

void fwc_meta_decode(const uint8_t *raw, fwc_meta *meta)
{
    copy_text(meta->magic, raw, 0);
    copy_text(meta->name, raw, 8);
    copy_text(meta->partition, raw, 72);
    meta->offset = zelupg_get_le32(raw + 136);
    meta->size = zelupg_get_le32(raw + 140);
    meta->crc = zelupg_get_le32(raw + 144);
    meta->ram = zelupg_get_le32(raw + 148);
    copy_text(meta->attributes, raw, 152);
}

bool image_file_length(FILE *fp, uint64_t *length)
{
    if (fseeko(fp, 0, SEEK_END) != 0)
        return false;
    off_t end = ftello(fp);
    if (end < 0 || fseeko(fp, 0, SEEK_SET) != 0)
        return false;
    *length = uint64_t(end);
    return true;
}

bool image_read_at(FILE *fp, uint64_t offset, void *buf, size_t count)
{
    if (fseeko(fp, off_t(offset), SEEK_SET) != 0)
        return false;
    return std::fread(buf, 1, count, fp) == count;
}

bool image_magic_ok(const uint8_t *raw)
{
    return std::memcmp(raw, IMAGE_MAGIC, IMAGE_MAGIC_CHECK_LEN) == 0;
}

bool image_fwc_in_file(const fwc_meta *meta, uint64_t file_length)
{
    return uint64_t(meta->offset) + meta->size <= file_length;
}

bool image_fwc_count(uint32_t meta_size, const char *caller, uint32_t *count)
{
    *count = meta_size >> FWC_META_SHIFT;
    if (*count <= IMAGE_MAX_FWC_COUNT)
        return true;
    upg_err_as(caller, "Error, FWC table of %u entries is larger than the limit of %d.", *count,
               int(IMAGE_MAX_FWC_COUNT));
    return false;
}

bool image_fwc_check_in_file(const fwc_meta *meta, int index, uint64_t file_length,
                             const char *caller)
{
    if (image_fwc_in_file(meta, file_length))
        return true;
    upg_err_as(caller, "Error, FWC %d \"%s\" (offset 0x%X, size %u) runs past the end of the file.",
               index, meta->name, meta->offset, meta->size);
    return false;
}

uint8_t *image_read_table(FILE *fp, uint32_t count, const char *caller)
{
    if (count == 0)
        return nullptr;
    const size_t bytes = size_t(count) * FWC_META_DISK_SIZE;
    uint8_t *raw = static_cast<uint8_t *>(std::malloc(bytes));
    if (!raw) {
        upg_err_as(caller, "Error, malloc for meta failed.");
        return nullptr;
    }
    if (!image_read_at(fp, IMAGE_META_OFFSET, raw, bytes)) {
        upg_err_as(caller, "Error, read meta data failed.");
        std::free(raw);
        return nullptr;
    }
    return raw;
}

int image_hdr_read(const char *path, image_header *hdr)
{
    if (!path || !hdr)
        return -1;

    FILE *fp = std::fopen(path, "rb");
    if (!fp) {
        upg_err("Cannot open file %s", path);
        return -1;
    }

    int ret = -1;
    uint8_t raw[IMAGE_HEADER_SIZE] = {};
    uint64_t length = 0;
    uint32_t count = 0;
    size_t got = std::fread(raw, 1, sizeof(raw), fp);
    image_header_decode(raw, hdr);
    if (got != sizeof(raw)) {
        upg_err("Failed to read(%s)", path);
    } else if (!image_magic_ok(raw)) {
        upg_err("Not supportted image file.");
    } else if (!image_file_length(fp, &length) ||
               length != uint64_t(IMAGE_HEADER_SIZE) + hdr->meta_size + hdr->file_size) {
        upg_err("file size %llu is illegal.", (unsigned long long)length);
    } else if (image_fwc_count(hdr->meta_size, __func__, &count)) {
        ret = 0;
    }
    std::fclose(fp);
    return ret;
}

int image_meta_read(const char *path, fwc_meta *records, int count)
{
    if (!path || !records || count <= 0)
        return -1;
    if (count > IMAGE_MAX_FWC_COUNT) {
        upg_err("Error, FWC table of %d entries is larger than the limit of %d.", count,
                int(IMAGE_MAX_FWC_COUNT));
        return -1;
    }

    FILE *fp = std::fopen(path, "rb");
    if (!fp) {
        upg_err("Cannot open file %s", path);
        return -1;
    }

    int ret = -1;
    uint8_t *raw = nullptr;
    uint64_t length = 0;
    const uint64_t table = uint64_t(count) * FWC_META_DISK_SIZE;
    if (!image_file_length(fp, &length) || length < IMAGE_META_OFFSET + table) {
        upg_err("Error, read meta data failed.");
        goto out;
    }
    raw = static_cast<uint8_t *>(std::malloc(size_t(table)));
    if (!raw) {
        upg_err("Error, malloc for meta failed.");
        goto out;
    }
    if (!image_read_at(fp, IMAGE_META_OFFSET, raw, size_t(table))) {
        upg_err("Error, read meta data failed.");
        goto out;
    }
    for (int i = 0; i < count; i++) {
        fwc_meta_decode(raw + size_t(i) * FWC_META_DISK_SIZE, &records[i]);
        if (!image_fwc_check_in_file(&records[i], i, length, __func__))
            goto out;
    }
    ret = 0;
out:
    std::free(raw);
    std::fclose(fp);
    return ret;
}

upg_partition *image_partition_read(const char *path, const char *key, uint32_t offset,
                                    uint32_t size)
{
    if (!path || !key)
        return nullptr;

    FILE *fp = std::fopen(path, "rb");
    if (!fp) {
        upg_err("Cannot open file %s", path);
        return nullptr;
    }

    upg_partition *head = nullptr;
    const size_t keylen = std::strlen(key);
    const char *value = nullptr;
    uint64_t length = 0;
    size_t pos = 0;
    // One spare NUL behind the blob keeps every string operation inside it.
    char *env = static_cast<char *>(std::malloc(size_t(size) + 1));
    if (!env) {
        upg_err("Error, malloc for meta failed.");
        goto out;
    }
    env[size] = '\0';
    if (!image_file_length(fp, &length) || uint64_t(offset) + size > length ||
        !image_read_at(fp, offset, env, size)) {
        upg_err("Error, read meta data failed.");
        goto out;
    }

    while (pos < size) {
        const unsigned char first = static_cast<unsigned char>(env[pos]);
        if (first == 0x00 || first == 0xFF)
            break;
        const char *text = env + pos;
        const void *nul = std::memchr(text, '\0', size - pos);
        const bool match = std::strncmp(text, key, keylen) == 0;
        if (!nul) {
            if (match)
                upg_err("Error: partition string is not terminated.");
            else
                upg_err("Error: Failed to parse env data.");
            goto out;
        }
        const size_t textlen = static_cast<const char *>(nul) - text;
        if (match) {
            // The value starts one character past the key, behind its "=".
            value = textlen > keylen ? text + keylen + 1 : text + textlen;
            break;
        }
        pos += textlen + 1;
    }
    if (!value) {
        upg_err("Error: Failed to parse env data.");
        goto out;
    }

    head = zelupg_new_partition(value, IMAGE_ENV_FIRST_START);
    if (!head) {
        upg_err("Error: Failed to parse partition.");
        goto out;
    }
    if (head->start != IMAGE_ENV_FIRST_START)
        upg_err("First partition start offset is not correct");
out:
    std::free(env);
    std::fclose(fp);
    return head;
}
