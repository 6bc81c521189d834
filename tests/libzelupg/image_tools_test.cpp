// The library's developer tools: image printer and splitter, hex dump and the
// port-path text.

#include "image_test_util.h"

#include "image_format.h"
#include "upg_port_text.h"
#include "upg_tools.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <regex>

using imagetest::LogCapture;
using imagetest::putLe32;
using imagetest::StdoutCapture;
using zelimg::ImageLayout;

namespace {

class ImageTools : public imagetest::ScratchDirTest
{
protected:
    std::string outDir()
    {
        const std::string dir = file("out");
        imagetest::fs::create_directories(dir);
        return dir;
    }
    int extract(const std::string &image, std::string *printed = nullptr)
    {
        const std::string dir = outDir();
        StdoutCapture out;
        int ret = image_extract_to(image.c_str(), dir.c_str());
        if (printed)
            *printed = out.text();
        return ret;
    }
    std::vector<std::string> extractedFiles()
    {
        std::vector<std::string> names;
        for (const auto &e : imagetest::fs::directory_iterator(file("out")))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

} // namespace

TEST_F(ImageTools, DisplayInfoPrintsHeaderAndTable)
{
    zelimg::ImageDesc desc = imagetest::oneComponent(std::vector<uint8_t>(0x20, 9));
    desc.exFlag = 3;
    desc.extension = {1, 2};
    desc.components[0].crc = 0xABCDEF01;
    const std::string path = writeImage("a.img", desc);
    StdoutCapture out;
    ASSERT_EQ(image_display_info(path.c_str()), 0);
    EXPECT_EQ(out.text(), "Image header:\n"
                          "\tmagic      : ZEL.FW\n"
                          "\tplatform   : zk3308\n"
                          "\tproduct    : test\n"
                          "\tversion    : 0.1\n"
                          "\tmedia type : emmc\n"
                          "\tmedia id   : mmc0\n"
                          "\tmeta offset: 0x800\n"
                          "\tmeta size  : 0x200\n"
                          "\tfile offset: 0xA00\n"
                          "\tfile size  : 0x20\n"
                          "\tex flag    : 0x3\n"
                          "\tex offset  : 0xA20\n"
                          "\tex size    : 0x2\n"
                          "FWC Info 0:\n"
                          "\tmagic      : ZEL.FWC\n"
                          "\tname       : image.target\n"
                          "\tpartition  : rootfs\n"
                          "\toffset     : 0xA00\n"
                          "\tsize       : 0x20\n"
                          "\tCRC        : 0xABCDEF01\n"
                          "\tRAM        : 0x1000\n"
                          "\tAttributes : burn\n");
}

TEST_F(ImageTools, DisplayInfoFailures)
{
    LogCapture log;
    StdoutCapture out;
    EXPECT_EQ(image_display_info(file("none.img").c_str()), -1);
    EXPECT_TRUE(log.contains("Cannot open file")) << log.all();

    std::vector<uint8_t> bytes = zelimg::buildImage(imagetest::oneComponent({1, 2, 3}));
    bytes[6] = 'x';
    EXPECT_EQ(image_display_info(writeBytes("magic.img", bytes).c_str()), -1);
    EXPECT_TRUE(log.contains("Error, not supportted image file.")) << log.all();

    // A header that cannot be read whole fails without a message.
    LogCapture::lines().clear();
    bytes.resize(100);
    EXPECT_EQ(image_display_info(writeBytes("short.img", bytes).c_str()), -1);
    EXPECT_TRUE(LogCapture::lines().empty()) << log.all();
    EXPECT_EQ(out.text(), "");
}

TEST_F(ImageTools, DisplayInfoFlagsAnEntryPastTheEnd)
{
    std::vector<uint8_t> bytes = zelimg::buildImage(imagetest::oneComponent({1, 2, 3}));
    putLe32(bytes, ImageLayout::entry(0) + ImageLayout::kFwcOffset, 0xFFFFFFFFu);
    LogCapture log;
    StdoutCapture out;
    EXPECT_EQ(image_display_info(writeBytes("a.img", bytes).c_str()), -1);
    EXPECT_NE(out.text().find("\toffset     : 0xFFFFFFFF\n"), std::string::npos);
    EXPECT_TRUE(log.contains("runs past the end of the file")) << log.all();
}

TEST_F(ImageTools, ExtractWritesEveryComponent)
{
    zelimg::ImageDesc desc = zelimg::sampleImage(5000);
    const std::string path = writeImage("a.img", desc);
    std::string printed;
    ASSERT_EQ(extract(path, &printed), 0);
    EXPECT_EQ(extractedFiles(), (std::vector<std::string>{"image.target", "image.updater.env",
                                                          "updater.spl", "updater.uboot"}));
    for (const zelimg::Component &c : desc.components)
        EXPECT_EQ(readBytes(file("out/" + c.name)), c.bytes) << c.name;
    char line[128];
    std::snprintf(line, sizeof(line), "  %-30s from 0x%x \tsize %u\n", "updater.spl", 2048 + 4 * 512,
                  6 * 1024);
    EXPECT_EQ(printed.rfind(line, 0), 0u) << printed;
}

TEST_F(ImageTools, ExtractIntoTheCurrentDirectory)
{
    const std::string path = writeImage("a.img", imagetest::oneComponent({4, 5, 6}, "comp.bin"));
    const auto previous = imagetest::fs::current_path();
    imagetest::fs::current_path(m_dir);
    int ret;
    {
        StdoutCapture out;
        ret = image_extract(path.c_str());
    }
    imagetest::fs::current_path(previous);
    EXPECT_EQ(ret, 0);
    EXPECT_EQ(readBytes(file("comp.bin")), (std::vector<uint8_t>{4, 5, 6}));
}

TEST_F(ImageTools, ExtractRefusesNamesThatLeaveTheDirectory)
{
    for (const std::string bad : {"../escape", "..", "sub/file", "/tmp/abs", "a\\b", "C:evil",
                                  "x..y", "."}) {
        SCOPED_TRACE(bad);
        zelimg::ImageDesc desc = imagetest::oneComponent({1}, "first");
        desc.components.push_back({bad, "p", 0, "burn", {2, 2}, {}, "ZEL.FWC"});
        desc.components.push_back({"third", "p", 0, "burn", {3}, {}, "ZEL.FWC"});
        const std::string path = writeImage("bad.img", desc);
        imagetest::fs::remove_all(file("out"));
        LogCapture log;
        EXPECT_EQ(extract(path), -1);
        EXPECT_TRUE(log.contains("is not a plain file name, refused.")) << log.all();
        EXPECT_EQ(LogCapture::lines().back().second.rfind("image_dump()", 0), 0u) << log.all();
        // Files before it stay; extraction stops there.
        EXPECT_EQ(extractedFiles(), (std::vector<std::string>{"first"}));
    }
    EXPECT_FALSE(imagetest::fs::exists(m_dir / "escape"));
    EXPECT_FALSE(imagetest::fs::exists("/tmp/abs"));
}

TEST_F(ImageTools, ExtractEmptyNameIsRefused)
{
    const std::string path = writeImage("a.img", imagetest::oneComponent({1}, ""));
    LogCapture log;
    EXPECT_EQ(extract(path), -1);
    EXPECT_TRUE(extractedFiles().empty());
}

TEST_F(ImageTools, ExtractStopsWhenAFileCannotBeCreated)
{
    zelimg::ImageDesc desc = imagetest::oneComponent({1}, "first");
    desc.components.push_back({"second", "p", 0, "burn", {2}, {}, "ZEL.FWC"});
    const std::string path = writeImage("a.img", desc);
    imagetest::fs::create_directories(file("out/second")); // a folder where the file should go
    LogCapture log;
    EXPECT_EQ(extract(path), -1);
    EXPECT_TRUE(log.contains("Error, failed to create file second")) << log.all();
    EXPECT_EQ(readBytes(file("out/first")), (std::vector<uint8_t>{1}));
}

TEST_F(ImageTools, ExtractNeverWritesThroughALinkInTheOutputFolder)
{
    zelimg::ImageDesc desc = imagetest::oneComponent({1}, "first");
    desc.components.push_back({"second", "p", 0, "burn", {2}, {}, "ZEL.FWC"});
    const std::string path = writeImage("a.img", desc);
    const std::string victim = writeBytes("victim.bin", {9, 9, 9});
    const std::string dir = outDir();
    // A link to an existing file, and a dangling one that would create a file.
    imagetest::fs::create_symlink(victim, dir + "/first");
    LogCapture log;
    EXPECT_EQ(extract(path), -1);
    EXPECT_TRUE(log.contains("Error, failed to create file first")) << log.all();
    EXPECT_EQ(readBytes(victim), (std::vector<uint8_t>{9, 9, 9}));

    imagetest::fs::remove(dir + "/first");
    imagetest::fs::create_symlink(file("created.bin"), dir + "/second");
    EXPECT_EQ(extract(path), -1);
    EXPECT_TRUE(log.contains("Error, failed to create file second")) << log.all();
    EXPECT_FALSE(imagetest::fs::exists(file("created.bin")));
    EXPECT_EQ(readBytes(dir + "/first"), (std::vector<uint8_t>{1}));
}

TEST_F(ImageTools, ExtractChecksOnlyTheMagic)
{
    std::vector<uint8_t> bytes = zelimg::buildImage(imagetest::oneComponent({7, 8}));
    putLe32(bytes, ImageLayout::kFileSize, 12345); // breaks every length rule
    EXPECT_EQ(extract(writeBytes("a.img", bytes)), 0);
    bytes[0] = 'Y';
    LogCapture log;
    EXPECT_EQ(extract(writeBytes("b.img", bytes)), -1);
    EXPECT_TRUE(log.contains("Error, not supportted image file.")) << log.all();
    bytes.resize(2047);
    bytes[0] = 'Z';
    EXPECT_EQ(extract(writeBytes("c.img", bytes)), -1);
}

TEST_F(ImageTools, ExtractWithTableShorterThanOneEntryWritesNothing)
{
    std::vector<uint8_t> bytes = zelimg::buildImage(imagetest::oneComponent({1, 2, 3}));
    putLe32(bytes, ImageLayout::kMetaSize, 511);
    std::string printed;
    EXPECT_EQ(extract(writeBytes("a.img", bytes), &printed), 0);
    EXPECT_EQ(printed, "");
    EXPECT_TRUE(extractedFiles().empty());
}

TEST_F(ImageTools, ExtractRefusesMetaSizeLargerThanTheFile)
{
    std::vector<uint8_t> bytes = zelimg::buildImage(imagetest::oneComponent({1, 2, 3}));
    putLe32(bytes, ImageLayout::kMetaSize, 0xFFFFFE00u);
    LogCapture log;
    EXPECT_EQ(extract(writeBytes("a.img", bytes)), -1);
    EXPECT_TRUE(log.contains("is larger than the file")) << log.all();
    EXPECT_TRUE(extractedFiles().empty());
}

TEST_F(ImageTools, ExtractRefusesAnEntryPastTheEnd)
{
    zelimg::ImageDesc desc = imagetest::oneComponent({1}, "first");
    desc.components.push_back({"second", "p", 0, "burn", {2, 3}, {}, "ZEL.FWC"});
    std::vector<uint8_t> bytes = zelimg::buildImage(desc);
    putLe32(bytes, ImageLayout::entry(1) + ImageLayout::kFwcSize, 3);
    LogCapture log;
    EXPECT_EQ(extract(writeBytes("a.img", bytes)), -1);
    EXPECT_TRUE(log.contains("Error, FWC second")) << log.all();
    EXPECT_TRUE(log.contains("runs past the end of the file")) << log.all();
    EXPECT_EQ(extractedFiles(), (std::vector<std::string>{"first"}));
}

// The library's position text is the port text zelflash -p takes: what it
// prints parses back to the same board.
TEST(PortPath, SameTextAsThePortOptionTakes)
{
    char buf[64];
    const uint8_t ports[7] = {1, 4, 2, 0, 0, 0, 0};
    EXPECT_STREQ(upg_format_port_path(buf, sizeof(buf), 3, ports, 7), "Bus:Port 3:1:4:2");
    uint8_t bus = 0;
    uint8_t parsed[7];
    ASSERT_EQ(upg_port_text_parse(buf + std::strlen("Bus:Port "), &bus, parsed), 0);
    EXPECT_EQ(bus, 3);
    EXPECT_EQ(std::memcmp(parsed, ports, 7), 0);

    const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_STREQ(upg_format_port_path(buf, sizeof(buf), 1, eight, 8), "Bus:Port 1:1:2:3:4:5:6:7");
    const uint8_t gap[4] = {9, 0, 3, 4};
    EXPECT_STREQ(upg_format_port_path(buf, sizeof(buf), 254, gap, 4), "Bus:Port 254:9");
    EXPECT_STREQ(upg_format_port_path(buf, sizeof(buf), 2, gap, 0), "Bus:Port 2");
    char small[12];
    const uint8_t wide[3] = {10, 20, 30};
    EXPECT_STREQ(upg_format_port_path(small, sizeof(small), 1, wide, 3), "Bus:Port 1:");
}

TEST(DumpHex, SixteenBytesPerLineWithAddresses)
{
    uint8_t data[20];
    for (int i = 0; i < 20; i++)
        data[i] = uint8_t(0xF0 + i);
    StdoutCapture out;
    upg_dump_hex("buf", data, sizeof(data));
    const std::string text = out.text();
    const std::regex shape("buf @ 0x[0-9A-F]+\n"
                           "0x[0-9A-F]+ F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF \n"
                           "0x[0-9A-F]+ 00 01 02 03 \n");
    EXPECT_TRUE(std::regex_match(text, shape)) << text;
    char second[40];
    std::snprintf(second, sizeof(second), "\n0x%0*" PRIXPTR " 00",
                  int(sizeof(void *) * 2), reinterpret_cast<uintptr_t>(data + 16));
    EXPECT_NE(text.find(second), std::string::npos) << text;
}
