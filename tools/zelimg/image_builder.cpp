#include "image_builder.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace zelimg {

namespace {

constexpr size_t kTextField = 64;
constexpr size_t kStreamPiece = 1 << 20; // bytes copied at a time from a component file

void putLe32(std::vector<uint8_t> &out, size_t at, uint32_t v)
{
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
    out[at + 2] = uint8_t(v >> 16);
    out[at + 3] = uint8_t(v >> 24);
}

// Writes text into a NUL-terminated field of the given width.
bool putText(std::vector<uint8_t> &out, size_t at, size_t width, const std::string &text,
             const char *what, std::string *error)
{
    if (text.size() >= width) {
        if (error)
            *error = std::string(what) + " \"" + text + "\" is longer than " +
                     std::to_string(width - 1) + " bytes";
        return false;
    }
    std::copy(text.begin(), text.end(), out.begin() + long(at));
    return true;
}

std::vector<uint8_t> deterministicBytes(size_t count, uint32_t seed)
{
    std::vector<uint8_t> bytes(count);
    uint32_t x = seed;
    for (auto &b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = uint8_t(x >> 24);
    }
    return bytes;
}

uint64_t componentSize(const Component &c)
{
    return c.file ? c.file->size : c.bytes.size();
}

uint64_t extensionSize(const ImageDesc &desc)
{
    return desc.extensionFile ? desc.extensionFile->size : desc.extension.size();
}

// Header and FWC table (everything before the FWC data), with the given
// CRC-32 for each entry that does not carry its own. Checks every size and
// text, so nothing is written for an image that cannot be built.
bool encodeHead(const ImageDesc &desc, const std::vector<uint32_t> &crcs,
                std::vector<uint8_t> *head, std::string *error)
{
    using L = ImageLayout;
    const uint64_t metaSize = uint64_t(desc.components.size()) * L::kEntrySize;
    uint64_t fileSize = 0;
    for (const Component &c : desc.components)
        fileSize += componentSize(c);
    const uint64_t fileOffset = L::kHeaderSize + metaSize;
    const uint64_t total = fileOffset + fileSize + extensionSize(desc);
    if (total > 0xFFFFFFFFull) {
        if (error)
            *error = "image would be larger than 4 GiB";
        return false;
    }

    std::vector<uint8_t> &out = *head;
    out.assign(size_t(fileOffset), 0);
    bool ok = putText(out, L::kMagic, 8, "ZEL.FW", "magic", error) &&
              putText(out, L::kPlatform, kTextField, desc.platform, "platform", error) &&
              putText(out, L::kProduct, kTextField, desc.product, "product", error) &&
              putText(out, L::kVersion, kTextField, desc.version, "version", error) &&
              putText(out, L::kMediaType, kTextField, desc.mediaType, "media type", error) &&
              putText(out, L::kMediaId, kTextField, desc.mediaId, "media id", error);
    putLe32(out, L::kMediaDevNum, desc.mediaDeviceNumber);
    putLe32(out, L::kMetaOffset, L::kTableOffset);
    putLe32(out, L::kMetaSize, uint32_t(metaSize));
    putLe32(out, L::kFileOffset, uint32_t(fileOffset));
    putLe32(out, L::kFileSize, uint32_t(fileSize));
    putLe32(out, L::kExFlag, desc.exFlag);
    putLe32(out, L::kExOffset, uint32_t(fileOffset + fileSize));
    putLe32(out, L::kExSize, uint32_t(extensionSize(desc)));

    uint64_t dataOffset = fileOffset;
    for (size_t i = 0; ok && i < desc.components.size(); i++) {
        const Component &c = desc.components[i];
        const size_t e = L::entry(i);
        ok = putText(out, e + L::kFwcMagic, 8, c.magic, "FWC magic", error) &&
             putText(out, e + L::kFwcName, kTextField, c.name, "FWC name", error) &&
             putText(out, e + L::kFwcPartition, kTextField, c.partition, "partition", error) &&
             putText(out, e + L::kFwcAttributes, kTextField, c.attributes, "attributes", error);
        putLe32(out, e + L::kFwcOffset, uint32_t(dataOffset));
        putLe32(out, e + L::kFwcSize, uint32_t(componentSize(c)));
        putLe32(out, e + L::kFwcCrc, c.crc ? *c.crc : crcs[i]);
        putLe32(out, e + L::kFwcRam, c.ram);
        dataOffset += componentSize(c);
    }
    return ok;
}

bool fail(std::string *error, const std::string &what)
{
    if (error)
        *error = what;
    return false;
}

// Opens a new file beside path that no other file of that name existed as.
FILE *createBeside(const std::string &path, std::string *tempPath)
{
    for (int n = 0; n < 100; n++) {
        *tempPath = path + ".tmp" + std::to_string(n);
        if (FILE *fp = std::fopen(tempPath->c_str(), "wbx"))
            return fp;
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

// An empty vector's data() may be null, which fwrite must not be given.
bool writeAll(FILE *out, const void *data, size_t count)
{
    return count == 0 || std::fwrite(data, 1, count, out) == count;
}

// Copies source into out piece by piece; *crc receives the CRC-32 of what was copied.
bool streamFile(FILE *out, const FileSource &source, const std::string &outPath, uint32_t *crc,
                std::string *error)
{
    FILE *in = std::fopen(source.path.c_str(), "rb");
    if (!in)
        return fail(error, "cannot read \"" + source.path + "\"");
    std::vector<uint8_t> piece(kStreamPiece);
    uLong sum = crc32(0L, Z_NULL, 0);
    uint64_t left = source.size;
    bool ok = true;
    while (ok && left > 0) {
        const size_t want = left < piece.size() ? size_t(left) : piece.size();
        const size_t got = std::fread(piece.data(), 1, want, in);
        if (got != want) {
            ok = fail(error, "\"" + source.path + "\" changed while the image was built");
        } else if (!writeAll(out, piece.data(), got)) {
            ok = fail(error, "cannot write \"" + outPath + "\"");
        } else {
            sum = crc32(sum, piece.data(), uInt(got));
            left -= got;
        }
    }
    if (ok && std::fgetc(in) != EOF)
        ok = fail(error, "\"" + source.path + "\" changed while the image was built");
    std::fclose(in);
    *crc = uint32_t(sum);
    return ok;
}

// Header, table and data into out; the table is written again at the end
// with the CRC-32 of every component streamed from a file.
bool writeContent(FILE *out, const ImageDesc &desc, const std::string &outPath, std::string *error)
{
    const std::string writeError = "cannot write \"" + outPath + "\"";
    std::vector<uint32_t> crcs(desc.components.size(), 0);
    for (size_t i = 0; i < desc.components.size(); i++)
        if (!desc.components[i].file)
            crcs[i] = crc32Of(desc.components[i].bytes);
    std::vector<uint8_t> head;
    if (!encodeHead(desc, crcs, &head, error))
        return false;
    if (!writeAll(out, head.data(), head.size()))
        return fail(error, writeError);
    for (size_t i = 0; i < desc.components.size(); i++) {
        const Component &c = desc.components[i];
        if (c.file) {
            if (!streamFile(out, *c.file, outPath, &crcs[i], error))
                return false;
        } else if (!writeAll(out, c.bytes.data(), c.bytes.size())) {
            return fail(error, writeError);
        }
    }
    uint32_t ignored = 0;
    if (desc.extensionFile) {
        if (!streamFile(out, *desc.extensionFile, outPath, &ignored, error))
            return false;
    } else if (!writeAll(out, desc.extension.data(), desc.extension.size())) {
        return fail(error, writeError);
    }
    if (!encodeHead(desc, crcs, &head, error))
        return false;
    if (std::fseek(out, 0, SEEK_SET) != 0 || !writeAll(out, head.data(), head.size()))
        return fail(error, writeError);
    return true;
}

} // namespace

uint32_t crc32Of(const std::vector<uint8_t> &bytes)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    const Bytef *p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        uInt piece = left > 0x40000000u ? 0x40000000u : uInt(left);
        crc = crc32(crc, p, piece);
        p += piece;
        left -= piece;
    }
    return uint32_t(crc);
}

std::vector<uint8_t> buildImage(const ImageDesc &desc, std::string *error)
{
    bool fromFiles = desc.extensionFile.has_value();
    for (const Component &c : desc.components)
        fromFiles = fromFiles || c.file.has_value();
    if (fromFiles) {
        fail(error, "components taken from files are only streamed by writeImage");
        return {};
    }
    std::vector<uint32_t> crcs;
    for (const Component &c : desc.components)
        crcs.push_back(crc32Of(c.bytes));
    std::vector<uint8_t> out;
    if (!encodeHead(desc, crcs, &out, error))
        return {};
    for (const Component &c : desc.components)
        out.insert(out.end(), c.bytes.begin(), c.bytes.end());
    out.insert(out.end(), desc.extension.begin(), desc.extension.end());
    return out;
}

bool writeImage(const ImageDesc &desc, const std::string &path, std::string *error)
{
    std::vector<uint8_t> head;
    if (!encodeHead(desc, std::vector<uint32_t>(desc.components.size(), 0), &head, error))
        return false;
    std::string temp;
    FILE *fp = createBeside(path, &temp);
    if (!fp)
        return fail(error, "cannot create \"" + path + "\"");
    bool written = writeContent(fp, desc, path, error);
    if (std::fclose(fp) != 0 && written)
        written = fail(error, "cannot write \"" + path + "\"");
    std::error_code ec;
    if (written)
        std::filesystem::rename(temp, path, ec);
    if (written && ec)
        written = fail(error, "cannot replace \"" + path + "\": " + ec.message());
    if (!written)
        std::remove(temp.c_str());
    return written;
}

std::vector<uint8_t> envBlob(const std::vector<std::pair<std::string, std::string>> &vars)
{
    std::vector<uint8_t> blob;
    for (const auto &[key, value] : vars) {
        std::string text = key + "=" + value;
        blob.insert(blob.end(), text.begin(), text.end());
        blob.push_back(0);
    }
    blob.push_back(0);
    return blob;
}

Component envComponent(const std::string &partitions,
                       const std::vector<std::pair<std::string, std::string>> &more)
{
    std::vector<std::pair<std::string, std::string>> vars = more;
    vars.emplace_back("parts_mmc", partitions);
    Component env;
    env.name = "image.updater.env";
    env.partition = "env";
    env.attributes = "burn";
    env.bytes = envBlob(vars);
    return env;
}

ImageDesc sampleImage(size_t payloadSize)
{
    ImageDesc desc;
    desc.platform = "zk3308";
    desc.product = "zelkora-demo";
    desc.version = "1.0.8";
    desc.mediaType = "emmc";
    desc.mediaDeviceNumber = 0;
    desc.mediaId = "mmc0";
    desc.components.push_back(
        {"updater.spl", "spl", 0x00200000, "run", deterministicBytes(6 * 1024, 1), {}, "ZEL.FWC"});
    desc.components.push_back({"updater.uboot", "uboot", 0x00600000, "run",
                               deterministicBytes(12 * 1024, 2), {}, "ZEL.FWC"});
    desc.components.push_back({"image.target", "rootfs", 0, "burn",
                               deterministicBytes(payloadSize, 3), {}, "ZEL.FWC"});
    desc.components.push_back(envComponent("1m(boot),4m(kernel),-(rootfs)"));
    return desc;
}

} // namespace zelimg
