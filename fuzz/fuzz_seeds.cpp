#include "fuzz_seeds.h"

#include "image_builder.h"

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
    seeds.emplace_back("env-blob", zelimg::envBlob({{"bootdelay", "3"}, {"parts_mmc", "1m(a),-(b)"}}));
    seeds.emplace_back("env-prefix", zelimg::envBlob({{"parts_mmcX", "-(all)"}}));
    return seeds;
}

std::vector<FuzzSeed> portMapSeeds()
{
    std::vector<FuzzSeed> seeds;
    const char *texts[] = {
        "",
        "0_1:2#3_1:3:4",
        "0_A#junk#3_B",
        "0_A_B#5_A#5_A",
        "#1_1:2##",
        "2_ 1:4 \t",
        "-1_1:2#99999999999_1:3#x_1:4",
        "15_2:1:2:3:4:5:6:7#0_",
    };
    int n = 0;
    for (const char *text : texts)
        seeds.emplace_back("map-" + std::to_string(n++), bytesOf(text));
    return seeds;
}
