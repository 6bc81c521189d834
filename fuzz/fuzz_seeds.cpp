#include "fuzz_seeds.h"

#include "libuart.h"

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

std::vector<FuzzSeed> commandAnswerSeeds()
{
    std::vector<FuzzSeed> seeds;
    seeds.emplace_back("zeros", std::vector<uint8_t>(4096, 0));
    // Response headers announcing 4 bytes (the block size and result queries).
    std::vector<uint8_t> four(4096, 0);
    for (size_t at = 64; at + 16 < four.size(); at += 97)
        putLe32(four, at, 4);
    seeds.emplace_back("lengths", four);
    seeds.emplace_back("failing", std::vector<uint8_t>(512, 0xFF));
    return seeds;
}

std::vector<FuzzSeed> workerArgsSeeds()
{
    const std::vector<std::vector<std::string>> lines = {
        {"-i", "2", "-f", "C%3A%2Fimg%2Fa.img", "-d", "1:3", "-t", "42"},
        {"-i", "0", "-f", "a.img", "-d", "254:1:2:3:4:5:6:255"},
        {"-i", "1", "-f", "a%00b", "-d", "../../x", "-t", "/abs"},
    };
    std::vector<FuzzSeed> seeds;
    for (const std::vector<std::string> &line : lines) {
        std::vector<uint8_t> bytes;
        for (const std::string &word : line) {
            if (!bytes.empty())
                bytes.push_back(0);
            bytes.insert(bytes.end(), word.begin(), word.end());
        }
        seeds.emplace_back("args-" + std::to_string(seeds.size()), bytes);
    }
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

namespace {

void addFrame(std::vector<uint8_t> *line, uint8_t blk, int len, uint8_t fill)
{
    const std::vector<uint8_t> data(size_t(len), fill);
    uint8_t frame[UART_LONG_FRAME];
    const int n = uart_pack_frame(blk, data.data(), len, frame);
    line->insert(line->end(), frame, frame + n);
}

std::vector<uint8_t> asked(int len)
{
    return {uint8_t(len), uint8_t(len >> 8), UART_ACK};
}

} // namespace

std::vector<FuzzSeed> uartSeeds()
{
    std::vector<FuzzSeed> seeds;
    std::vector<uint8_t> s = asked(2100);
    addFrame(&s, 1, 1024, 0x11);
    addFrame(&s, 2, 1024, 0x22);
    addFrame(&s, 3, 52, 0x33);
    seeds.push_back({"long_long_short", s});

    s = asked(13);
    addFrame(&s, 1, 176, 0x44);
    seeds.push_back({"frame_past_asked_length", s});

    s = asked(300);
    addFrame(&s, 7, 176, 0x55);
    s[s.size() - 1] ^= 0xff; // bad CRC
    addFrame(&s, 7, 176, 0x55);
    addFrame(&s, 7, 176, 0x55); // a repeat of a frame already taken
    addFrame(&s, 8, 124, 0x66);
    s.push_back(UART_CAN);
    seeds.push_back({"nak_repeat_can", s});

    s = asked(100);
    addFrame(&s, 9, 40, 0x77);
    s[s.size() - 40 - 3] ^= 0x01; // wrong complement
    addFrame(&s, 9, 40, 0x77);
    s.push_back(UART_ATTENTION);
    seeds.push_back({"complement_attention", s});

    s = {50, 0, 0x55, 0xaa, UART_ACK, 0x99, UART_CAN};
    seeds.push_back({"noise_can", s});
    return seeds;
}
