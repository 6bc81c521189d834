#pragma once
// Firmware image builder, independent of libzelupg so that any test (virtual
// board, worker, console) can make images without linking the upgrade library.
//
// Layout written, which is what the library's readers expect:
//   0                     header, 2048 bytes ("ZEL.FW\0" magic)
//   2048                  FWC table, one 512-byte entry per component
//   2048 + meta size      FWC data, the components' bytes back to back in order
//   file offset + size    extension area (optional)
// Every integer is written little-endian. Each entry gets its absolute offset,
// its size and the zlib CRC-32 of its bytes (unless crc is given).
// Component bytes are either held in memory or, for images built from a
// manifest, streamed from a regular file whose size was taken beforehand, so
// writing an image costs bounded memory whatever the components weigh.
//
// Usage:
//   zelimg::ImageDesc desc;
//   desc.platform = "zk3308"; desc.product = "demo"; desc.version = "1.0";
//   desc.mediaType = "emmc"; desc.mediaId = "mmc0";
//   desc.components.push_back({"updater.spl", "spl", 0x200000, "run", splBytes});
//   desc.components.push_back(zelimg::envComponent("4m(uboot),-(rootfs)"));
//   std::string error;
//   std::vector<uint8_t> image = zelimg::buildImage(desc, &error); // empty on error
//   bool ok = zelimg::writeImage(desc, "/tmp/a.img", &error);
// Tests that need a broken image build a good one and patch its bytes using
// the offsets in ImageLayout.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zelimg {

// A regular file whose bytes writeImage streams into the image. The size is
// taken before anything is written; a file that no longer has exactly that
// size when it is copied fails the build.
struct FileSource {
    std::string path;
    uint64_t size = 0;
};

// One firmware component (FWC). Text fields take at most 63 bytes.
struct Component {
    std::string name;       // dotted FWC name, e.g. "updater.uboot", "image.target"
    std::string partition;  // target partition name
    uint32_t ram = 0;       // load address in device memory
    std::string attributes; // keywords, e.g. "burn", "run", "burn,run"
    std::vector<uint8_t> bytes;
    std::optional<uint32_t> crc; // overrides the computed CRC-32 (to test mismatches)
    std::string magic = "ZEL.FWC";
    // When set, the bytes come from this file instead (writeImage only).
    std::optional<FileSource> file = std::nullopt;
};

struct ImageDesc {
    std::string platform;
    std::string product;
    std::string version;
    std::string mediaType;
    uint32_t mediaDeviceNumber = 0;
    std::string mediaId;
    std::vector<Component> components;
    uint32_t exFlag = 0;
    std::vector<uint8_t> extension; // extension area behind the FWC data
    // When set, replaces extension (writeImage only).
    std::optional<FileSource> extensionFile = std::nullopt;
};

// Byte offsets of the written records, for tests that patch an image.
struct ImageLayout {
    static constexpr uint32_t kHeaderSize = 2048;
    static constexpr uint32_t kEntrySize = 512;
    static constexpr uint32_t kTableOffset = 2048;
    // header fields
    static constexpr uint32_t kMagic = 0, kPlatform = 8, kProduct = 72, kVersion = 136;
    static constexpr uint32_t kMediaType = 200, kMediaDevNum = 264, kMediaId = 268;
    static constexpr uint32_t kMetaOffset = 332, kMetaSize = 336, kFileOffset = 340;
    static constexpr uint32_t kFileSize = 344, kExFlag = 348, kExOffset = 352, kExSize = 356;
    // entry fields, relative to the entry
    static constexpr uint32_t kFwcMagic = 0, kFwcName = 8, kFwcPartition = 72;
    static constexpr uint32_t kFwcOffset = 136, kFwcSize = 140, kFwcCrc = 144, kFwcRam = 148;
    static constexpr uint32_t kFwcAttributes = 152;
    static constexpr uint32_t entry(size_t index) { return kTableOffset + uint32_t(index) * kEntrySize; }
};

// The whole image, or an empty vector with *error set (a text field too long,
// an image beyond 4 GiB, a component taken from a file).
std::vector<uint8_t> buildImage(const ImageDesc &desc, std::string *error = nullptr);

// Writes the image to path. Sizes and texts are checked before anything is
// written; the image goes into a temporary file beside path, which replaces
// path only once it is complete, so a failed write leaves path as it was.
// False with *error set on failure.
bool writeImage(const ImageDesc &desc, const std::string &path, std::string *error = nullptr);

// An environment blob: "key=value" strings, each NUL-terminated, then one
// more NUL that ends the sequence.
std::vector<uint8_t> envBlob(const std::vector<std::pair<std::string, std::string>> &vars);

// The "image.updater.env" component carrying parts_mmc=<partitions> (and any
// further variables), partition "env", attributes "burn".
Component envComponent(const std::string &partitions,
                       const std::vector<std::pair<std::string, std::string>> &more = {});

// zlib CRC-32 of a byte range, as written into the entries.
uint32_t crc32Of(const std::vector<uint8_t> &bytes);

// A small, deterministic sample image in the usual order: "updater.spl"
// (run), "updater.uboot" (run), "image.target" (burn), "image.updater.env"
// (burn; parts_mmc "1m(boot),4m(kernel),-(rootfs)"). payloadSize is the size of
// the target component; the other components are a few KiB.
ImageDesc sampleImage(size_t payloadSize = 64 * 1024);

} // namespace zelimg
