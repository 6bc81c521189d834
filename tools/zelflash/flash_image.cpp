#include "flash_image.h"

#include "image_file.h"
#include "image_format.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

namespace
{

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

constexpr size_t kCrcPiece = 1024 * 1024;

bool fail(ImageCheck *out, const std::string &why)
{
    out->error = why;
    return false;
}

std::string hex(uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08x", v);
    return text;
}

bool crcOf(FILE *fp, const ComponentCheck &c, uint32_t *crc)
{
    std::unique_ptr<unsigned char[]> buf(new unsigned char[kCrcPiece]);
    uLong value = crc32(0L, Z_NULL, 0);
    for (uint32_t done = 0; done < c.size;) {
        const size_t piece = c.size - done < kCrcPiece ? c.size - done : kCrcPiece;
        if (!image_read_at(fp, uint64_t(c.offset) + done, buf.get(), piece))
            return false;
        value = crc32(value, buf.get(), uInt(piece));
        done += uint32_t(piece);
    }
    *crc = uint32_t(value);
    return true;
}

} // namespace

bool checkImage(const std::string &path, LengthRule rule, bool crcs, ImageCheck *out)
{
    *out = ImageCheck();
    // Looked at before opening: opening a FIFO blocks until a writer comes.
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return fail(out, "cannot be read (no such file)");
    if (!S_ISREG(st.st_mode))
        return fail(out, S_ISDIR(st.st_mode) ? "is a folder, not an image file"
                                             : "is not a regular file");
    std::unique_ptr<FILE, FileCloser> fp(std::fopen(path.c_str(), "rb"));
    if (!fp)
        return fail(out, "cannot be read (no permission)");
    if (!image_file_length(fp.get(), &out->length))
        return fail(out, "cannot be read");
    uint8_t raw[IMAGE_HEADER_SIZE];
    if (!image_read_at(fp.get(), 0, raw, sizeof(raw)))
        return fail(out, "is shorter than an image header");
    if (!image_magic_ok(raw))
        return fail(out, "is not an image (no \"ZEL.FW\" header)");
    image_header hdr;
    image_header_decode(raw, &hdr);
    uint64_t expected = uint64_t(IMAGE_HEADER_SIZE) + hdr.meta_size + hdr.file_size;
    if (rule == LengthRule::WithEx)
        expected += hdr.ex_size;
    if (out->length != expected)
        return fail(out, "has " + std::to_string(out->length) + " bytes where its header gives " +
                             std::to_string(expected));
    uint32_t count = 0;
    if (!image_fwc_count(hdr.meta_size, "checkImage", &count))
        return fail(out, "has a component table beyond " + std::to_string(IMAGE_MAX_FWC_COUNT) +
                             " entries");
    if (count == 0)
        return fail(out, "has no components");
    std::unique_ptr<uint8_t, FreeDeleter> table(image_read_table(fp.get(), count, "checkImage"));
    if (!table)
        return fail(out, "has a component table that cannot be read");
    for (uint32_t i = 0; i < count; i++) {
        fwc_meta meta;
        fwc_meta_decode(table.get() + size_t(i) * FWC_META_DISK_SIZE, &meta);
        ComponentCheck c;
        c.name = meta.name;
        c.offset = meta.offset;
        c.size = meta.size;
        c.crc = meta.crc;
        if (!image_fwc_in_file(&meta, out->length))
            return fail(out, "has component " + c.name + " running past the end of the file");
        out->components.push_back(c);
    }
    if (!crcs)
        return true;
    for (ComponentCheck &c : out->components) {
        if (!crcOf(fp.get(), c, &c.actual))
            return fail(out, "cannot be read at component " + c.name);
    }
    for (const ComponentCheck &c : out->components) {
        if (c.actual != c.crc)
            return fail(out, "has component " + c.name + " with CRC " + hex(c.actual) +
                                 " where its table gives " + hex(c.crc));
    }
    return true;
}
