#include "upg_tools.h"

#include "image_file.h"
#include "image_format.h"
#include "upg_device.h"
#include "upg_port_text.h"
#include "zelupg_log.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t kCopyPiece = 2048;

// Address text as "0x" and the pointer in fixed-width upper-case hex.
void print_address(const void *p)
{
    std::printf("0x%0*" PRIXPTR, int(sizeof(void *) * 2), reinterpret_cast<uintptr_t>(p));
}

// A name that names a file inside the output directory and nothing else.
bool plain_file_name(const char *name)
{
    return name[0] != '\0' && !std::strchr(name, '/') && !std::strchr(name, '\\') &&
           !std::strchr(name, ':') && !std::strstr(name, "..") && std::strcmp(name, ".") != 0;
}

// Copies one FWC into its own file (the per-file step of image_extract).
int image_dump(FILE *fp, const fwc_meta *meta, uint64_t file_length, const char *outdir)
{
    if (!plain_file_name(meta->name)) {
        upg_err("Error, FWC name \"%s\" is not a plain file name, refused.", meta->name);
        return -1;
    }
    if (!image_fwc_in_file(meta, file_length)) {
        upg_err("Error, FWC %s (offset 0x%X, size %u) runs past the end of the file.", meta->name,
                meta->offset, meta->size);
        return -1;
    }
    std::string out = outdir ? std::string(outdir) + "/" + meta->name : std::string(meta->name);
    FILE *of = image_create_output(out.c_str());
    if (!of) {
        upg_err("Error, failed to create file %s", meta->name);
        return -1;
    }

    int ret = 0;
    uint8_t piece[kCopyPiece];
    uint64_t done = 0;
    const bool placed = fseeko(fp, off_t(meta->offset), SEEK_SET) == 0;
    while (placed && done < meta->size) {
        size_t want = meta->size - done < kCopyPiece ? size_t(meta->size - done) : kCopyPiece;
        size_t got = std::fread(piece, 1, want, fp);
        if (got == 0)
            break;
        if (std::fwrite(piece, 1, got, of) != got) {
            upg_err("Error, failed to write file %s", meta->name);
            ret = -1;
            break;
        }
        done += got;
    }
    if (ret == 0 && done < meta->size) {
        upg_err("Error, failed to read FWC %s from the image", meta->name);
        ret = -1;
    }
    if (std::fclose(of) != 0 && ret == 0) {
        upg_err("Error, failed to write file %s", meta->name);
        ret = -1;
    }
    return ret;
}

} // namespace

void upg_dump_hex(const char *label, const void *data, size_t count)
{
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    std::printf("%s @ ", label ? label : "");
    print_address(data);
    for (size_t i = 0; i < count; i++) {
        if (i % 16 == 0) {
            std::printf("\n");
            print_address(bytes + i);
            std::printf(" ");
        }
        std::printf("%02X ", bytes[i]);
    }
    std::printf("\n");
}

char *upg_format_port_path(char *buf, size_t bufsize, uint8_t bus, const uint8_t *ports, int len)
{
    if (!buf || bufsize == 0)
        return buf;
    uint8_t path[UPG_PORT_PATH_LEN] = {};
    for (int i = 0; ports && i < len && i < UPG_PORT_PATH_LEN && ports[i] != 0; i++)
        path[i] = ports[i];
    char text[UPG_PORT_TEXT_SIZE];
    std::snprintf(buf, bufsize, "Bus:Port %s", upg_port_text(text, sizeof(text), bus, path));
    return buf;
}

int image_display_info(const char *path)
{
    if (!path)
        return -1;
    FILE *fp = std::fopen(path, "rb");
    if (!fp) {
        upg_err("Cannot open file %s", path);
        return -1;
    }

    int ret = -1;
    uint8_t raw[IMAGE_HEADER_SIZE];
    image_header hdr;
    uint64_t length = 0;
    uint8_t *table = nullptr;
    uint32_t count = 0;
    if (!image_file_length(fp, &length) || !image_read_at(fp, 0, raw, sizeof(raw)))
        goto out;
    image_header_decode(raw, &hdr);
    if (!image_magic_ok(raw)) {
        upg_err("Error, not supportted image file.");
        goto out;
    }
    if (length != uint64_t(IMAGE_HEADER_SIZE) + hdr.meta_size + hdr.file_size + hdr.ex_size) {
        upg_err("Error, file size is illegal.");
        goto out;
    }
    if (!image_fwc_count(hdr.meta_size, "image_display_info", &count))
        goto out;
    table = image_read_table(fp, count, "image_display_info");
    if (count && !table)
        goto out;

    std::printf("Image header:\n");
    std::printf("\tmagic      : %s\n", hdr.magic);
    std::printf("\tplatform   : %s\n", hdr.platform);
    std::printf("\tproduct    : %s\n", hdr.product);
    std::printf("\tversion    : %s\n", hdr.version);
    std::printf("\tmedia type : %s\n", hdr.media_type);
    std::printf("\tmedia id   : %s\n", hdr.media_id);
    std::printf("\tmeta offset: 0x%X\n", hdr.meta_offset);
    std::printf("\tmeta size  : 0x%X\n", hdr.meta_size);
    std::printf("\tfile offset: 0x%X\n", hdr.file_offset);
    std::printf("\tfile size  : 0x%X\n", hdr.file_size);
    std::printf("\tex flag    : 0x%X\n", hdr.ex_flag);
    std::printf("\tex offset  : 0x%X\n", hdr.ex_offset);
    std::printf("\tex size    : 0x%X\n", hdr.ex_size);

    ret = 0;
    for (uint32_t i = 0; i < count; i++) {
        fwc_meta meta;
        fwc_meta_decode(table + size_t(i) * FWC_META_DISK_SIZE, &meta);
        std::printf("FWC Info %d:\n", int(i));
        std::printf("\tmagic      : %s\n", meta.magic);
        std::printf("\tname       : %s\n", meta.name);
        std::printf("\tpartition  : %s\n", meta.partition);
        std::printf("\toffset     : 0x%X\n", meta.offset);
        std::printf("\tsize       : 0x%X\n", meta.size);
        std::printf("\tCRC        : 0x%X\n", meta.crc);
        std::printf("\tRAM        : 0x%X\n", meta.ram);
        std::printf("\tAttributes : %s\n", meta.attributes);
        if (!image_fwc_check_in_file(&meta, int(i), length, "image_display_info"))
            ret = -1;
    }
out:
    std::fflush(stdout);
    std::free(table);
    std::fclose(fp);
    return ret;
}

int image_extract(const char *path)
{
    return image_extract_to(path, nullptr);
}

int image_extract_to(const char *path, const char *outdir)
{
    if (!path)
        return -1;
    FILE *fp = std::fopen(path, "rb");
    if (!fp) {
        upg_err_as("image_extract", "Cannot open file %s", path);
        return -1;
    }

    int ret = -1;
    uint8_t raw[IMAGE_HEADER_SIZE];
    image_header hdr;
    uint64_t length = 0;
    uint8_t *table = nullptr;
    uint32_t count = 0;
    if (!image_file_length(fp, &length) || !image_read_at(fp, 0, raw, sizeof(raw)) ||
        !image_magic_ok(raw)) {
        upg_err_as("image_extract", "Error, not supportted image file.");
        goto out;
    }
    image_header_decode(raw, &hdr);
    if (hdr.meta_size > length - IMAGE_HEADER_SIZE) {
        upg_err_as("image_extract", "Error, meta size 0x%X is larger than the file.",
                   hdr.meta_size);
        goto out;
    }
    if (!image_fwc_count(hdr.meta_size, "image_extract", &count))
        goto out;
    table = image_read_table(fp, count, "image_extract");
    if (count && !table)
        goto out;

    ret = 0;
    for (uint32_t i = 0; i < count; i++) {
        fwc_meta meta;
        fwc_meta_decode(table + size_t(i) * FWC_META_DISK_SIZE, &meta);
        std::printf("  %-30s from 0x%x \tsize %u\n", meta.name, meta.offset, meta.size);
        std::fflush(stdout);
        if (image_dump(fp, &meta, length, outdir) != 0) {
            ret = -1;
            break;
        }
    }
out:
    std::fflush(stdout);
    std::free(table);
    std::fclose(fp);
    return ret;
}
