#include "image_builder.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace zelimg {

namespace {

constexpr size_t kTextField = 64;

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
    using L = ImageLayout;
    const uint64_t metaSize = uint64_t(desc.components.size()) * L::kEntrySize;
    uint64_t fileSize = 0;
    for (const Component &c : desc.components)
        fileSize += c.bytes.size();
    const uint64_t fileOffset = L::kHeaderSize + metaSize;
    const uint64_t total = fileOffset + fileSize + desc.extension.size();
    if (total > 0xFFFFFFFFull) {
        if (error)
            *error = "image would be larger than 4 GiB";
        return {};
    }

    std::vector<uint8_t> out(size_t(fileOffset), 0);
    out.reserve(size_t(total));
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
    putLe32(out, L::kExSize, uint32_t(desc.extension.size()));

    uint64_t dataOffset = fileOffset;
    for (size_t i = 0; ok && i < desc.components.size(); i++) {
        const Component &c = desc.components[i];
        const size_t e = L::entry(i);
        ok = putText(out, e + L::kFwcMagic, 8, c.magic, "FWC magic", error) &&
             putText(out, e + L::kFwcName, kTextField, c.name, "FWC name", error) &&
             putText(out, e + L::kFwcPartition, kTextField, c.partition, "partition", error) &&
             putText(out, e + L::kFwcAttributes, kTextField, c.attributes, "attributes", error);
        putLe32(out, e + L::kFwcOffset, uint32_t(dataOffset));
        putLe32(out, e + L::kFwcSize, uint32_t(c.bytes.size()));
        putLe32(out, e + L::kFwcCrc, c.crc ? *c.crc : crc32Of(c.bytes));
        putLe32(out, e + L::kFwcRam, c.ram);
        dataOffset += c.bytes.size();
    }
    if (!ok)
        return {};
    for (const Component &c : desc.components)
        out.insert(out.end(), c.bytes.begin(), c.bytes.end());
    out.insert(out.end(), desc.extension.begin(), desc.extension.end());
    return out;
}

bool writeImage(const ImageDesc &desc, const std::string &path, std::string *error)
{
    std::vector<uint8_t> image = buildImage(desc, error);
    if (image.empty())
        return false;
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (!fp) {
        if (error)
            *error = "cannot create \"" + path + "\"";
        return false;
    }
    bool written = std::fwrite(image.data(), 1, image.size(), fp) == image.size();
    if (std::fclose(fp) != 0)
        written = false;
    if (!written && error)
        *error = "cannot write \"" + path + "\"";
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
