#include "fuzz_seeds.h"

#include "image_builder.h"

#include <algorithm>

namespace {

std::vector<uint8_t> bytesOf(const std::string &text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

void putLe32(std::vector<uint8_t> &image, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        image[at + size_t(i)] = uint8_t(value >> (8 * i));
}

// A report record (kind, payload length, payload) after the byte that sets
// the size of the pieces it arrives in.
std::vector<uint8_t> reportRecord(uint8_t piece, uint32_t kind, const std::string &payload,
                                  uint32_t declared)
{
    std::vector<uint8_t> bytes(9 + payload.size(), 0);
    bytes[0] = piece;
    putLe32(bytes, 1, kind);
    putLe32(bytes, 5, declared);
    std::copy(payload.begin(), payload.end(), bytes.begin() + 9);
    return bytes;
}

} // namespace

std::vector<FuzzSeed> imageReaderSeeds()
{
    using zelimg::ImageLayout;
    std::vector<FuzzSeed> seeds;
    seeds.emplace_back("sample.img", zelimg::buildImage(zelimg::sampleImage(512)));

    zelimg::ImageDesc withEx = zelimg::sampleImage(64);
    withEx.exFlag = 1;
    withEx.extension = {0xEE, 0xEE, 0xEE, 0xEE};
    seeds.emplace_back("extension.img", zelimg::buildImage(withEx));

    zelimg::ImageDesc one;
    one.platform = "p";
    one.components.push_back({"image.target", "rootfs", 0, "burn", {1, 2, 3}, {}, "ZEL.FWC"});
    std::vector<uint8_t> small = zelimg::buildImage(one);
    seeds.emplace_back("one.img", small);

    std::vector<uint8_t> noTable = small;
    putLe32(noTable, ImageLayout::kMetaSize, 511);
    seeds.emplace_back("short-table.img", noTable);

    zelimg::ImageDesc envOnly;
    envOnly.components.push_back(zelimg::envComponent("0x800@0(boot),1m(a),-(rest)", {{"k", "v"}}));
    seeds.emplace_back("env.img", zelimg::buildImage(envOnly));

    seeds.emplace_back("header-only.img", std::vector<uint8_t>(small.begin(), small.begin() + 2048));
    return seeds;
}

std::vector<FuzzSeed> partitionSeeds()
{
    std::vector<FuzzSeed> seeds;
    const char *strings[] = {
        "-(all)",
        "1m(a),2m(b)",
        "0x800@0(boot),4k(env),-(rootfs)",
        "4MiB(a),4MB(b),3KiB(c),2g(d)",
        "size:100(a),s:2m(b)",
        "010(o),0X1f(h)",
        "1k(aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa)",
        "4x(a)",
        "1m(abc",
    };
    int i = 0;
    for (const char *s : strings)
        seeds.emplace_back("string-" + std::to_string(i++), bytesOf(s));
    seeds.emplace_back("env-blob",
                       zelimg::envBlob({{"bootdelay", "3"}, {"parts_mmc", "1m(a),-(b)"}}));
    seeds.emplace_back("env-prefix", zelimg::envBlob({{"parts_mmcX", "-(all)"}}));
    return seeds;
}

std::vector<FuzzSeed> reportSeeds()
{
    std::vector<FuzzSeed> seeds;
    const std::string progress = "ZEL_3#1048576_TOOL";
    seeds.emplace_back("progress", reportRecord(15, 1, progress, uint32_t(progress.size())));
    seeds.emplace_back("progress-bytewise", reportRecord(0, 1, progress, uint32_t(progress.size())));
    seeds.emplace_back("result", reportRecord(3, 4, "ZEL_0#1_TOOL", 12));
    seeds.emplace_back("empty", reportRecord(7, 2, "", 0));
    seeds.emplace_back("short", reportRecord(2, 1, "ZEL_1#", 12));
    seeds.emplace_back("too-long", reportRecord(4, 1, "ZEL_1#2_TOOL", 4097));
    seeds.emplace_back("no-hash", reportRecord(5, 3, "ZEL_7_TOOL", 10));
    seeds.emplace_back("nul", reportRecord(6, 1, std::string("ZEL_4#77\0#99_TOOL", 17), 17));
    seeds.emplace_back("trailing", reportRecord(9, 4, "ZEL_2#0_TOOLextra", 12));
    return seeds;
}
