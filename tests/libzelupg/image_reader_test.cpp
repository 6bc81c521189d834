// The three image readers: header, FWC table and environment partition list.
// Images come from the builder; broken ones are good ones with patched bytes.

#include "image_test_util.h"

#include "image_format.h"
#include "partition.h"
#include "upg_tools.h"

#include <cstring>

using imagetest::LogCapture;
using imagetest::putLe32;
using zelimg::ImageLayout;

namespace {

class ImageReader : public imagetest::ScratchDirTest
{
protected:
    std::vector<uint8_t> sample() const { return zelimg::buildImage(zelimg::sampleImage(4096)); }
};

} // namespace

TEST_F(ImageReader, HeaderFieldsAreDecodedLittleEndian)
{
    zelimg::ImageDesc desc = zelimg::sampleImage(4096);
    desc.mediaDeviceNumber = 0x01020304;
    desc.exFlag = 0xA1B2C3D4;
    std::vector<uint8_t> bytes = zelimg::buildImage(desc);
    // The file holds the low byte first, whatever this host's order is.
    EXPECT_EQ(bytes[ImageLayout::kMediaDevNum], 0x04);
    EXPECT_EQ(bytes[ImageLayout::kMediaDevNum + 3], 0x01);
    const std::string path = writeBytes("a.img", bytes);

    image_header hdr;
    ASSERT_EQ(image_hdr_read(path.c_str(), &hdr), 0);
    EXPECT_STREQ(hdr.magic, "ZEL.FW");
    EXPECT_STREQ(hdr.platform, "zk3308");
    EXPECT_STREQ(hdr.product, "zelkora-demo");
    EXPECT_STREQ(hdr.version, "1.0.8");
    EXPECT_STREQ(hdr.media_type, "emmc");
    EXPECT_STREQ(hdr.media_id, "mmc0");
    EXPECT_EQ(hdr.media_dev_num, 0x01020304u);
    EXPECT_EQ(hdr.ex_flag, 0xA1B2C3D4u);
    EXPECT_EQ(hdr.meta_offset, 2048u);
    EXPECT_EQ(hdr.meta_size, 4u * 512);
    EXPECT_EQ(hdr.file_offset, 2048u + 4 * 512);
    EXPECT_EQ(hdr.file_size, bytes.size() - 2048 - 4 * 512);
}

// The magic is "ZEL.FW" and a NUL; the eighth byte is free.
TEST_F(ImageReader, HeaderMagicIsTheFirstSevenBytes)
{
    const struct {
        size_t at;
        const char *bytes;
        int expected;
    } cases[] = {{6, "!", -1}, {0, "ZEL.FV", -1}, {0, "zEL.FW", -1}, {7, "X", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.bytes) + " at " + std::to_string(c.at));
        std::vector<uint8_t> bytes = sample();
        std::memcpy(bytes.data() + c.at, c.bytes, std::strlen(c.bytes));
        const std::string path = writeBytes("a.img", bytes);
        LogCapture log;
        image_header hdr;
        EXPECT_EQ(image_hdr_read(path.c_str(), &hdr), c.expected);
        EXPECT_EQ(log.contains("Not supportted image file."), c.expected != 0) << log.all();
        // A refused header still holds what was read.
        EXPECT_EQ(std::memcmp(hdr.magic, bytes.data(), 7), 0);
    }
}

TEST_F(ImageReader, HeaderFailsOnMissingOrShortFile)
{
    LogCapture log;
    image_header hdr;
    const std::string missing = file("missing.img");
    EXPECT_EQ(image_hdr_read(missing.c_str(), &hdr), -1);
    EXPECT_TRUE(log.contains("Cannot open file " + missing));

    std::vector<uint8_t> bytes = sample();
    bytes.resize(2047);
    const std::string shortPath = writeBytes("short.img", bytes);
    EXPECT_EQ(image_hdr_read(shortPath.c_str(), &hdr), -1);
    EXPECT_TRUE(log.contains("Failed to read(" + shortPath + ")")) << log.all();
}

TEST_F(ImageReader, NullArgumentsFailSilently)
{
    LogCapture log;
    image_header hdr;
    fwc_meta records[1];
    EXPECT_EQ(image_hdr_read(nullptr, &hdr), -1);
    EXPECT_EQ(image_hdr_read("x", nullptr), -1);
    EXPECT_EQ(image_meta_read(nullptr, records, 1), -1);
    EXPECT_EQ(image_meta_read("x", nullptr, 1), -1);
    EXPECT_EQ(image_meta_read("x", records, 0), -1);
    EXPECT_EQ(image_partition_read(nullptr, "parts_mmc", 0, 1), nullptr);
    EXPECT_TRUE(LogCapture::lines().empty()) << log.all();
}

// The length rule differs: the header reader wants 2048 + meta + file size,
// the printer (and the burn) also counts the extension area, extraction
// checks only the magic.
TEST_F(ImageReader, SizeRulesDifferBetweenReaders)
{
    zelimg::ImageDesc desc = zelimg::sampleImage(4096);
    desc.extension = std::vector<uint8_t>(100, 0xEE);
    const std::string withEx = writeImage("ex.img", desc);
    const uint64_t length = imagetest::fs::file_size(withEx);

    LogCapture log;
    image_header hdr;
    EXPECT_EQ(image_hdr_read(withEx.c_str(), &hdr), -1);
    EXPECT_TRUE(log.contains("file size " + std::to_string(length) + " is illegal.")) << log.all();
    {
        imagetest::StdoutCapture out;
        EXPECT_EQ(image_display_info(withEx.c_str()), 0) << log.all();
    }

    // Without an extension area both agree.
    const std::string plain = writeImage("plain.img", zelimg::sampleImage(4096));
    EXPECT_EQ(image_hdr_read(plain.c_str(), &hdr), 0);
    {
        imagetest::StdoutCapture out;
        EXPECT_EQ(image_display_info(plain.c_str()), 0);
    }

    // A trailing byte breaks both length rules, but not extraction.
    std::vector<uint8_t> bytes = zelimg::buildImage(zelimg::sampleImage(4096));
    bytes.push_back(0);
    const std::string longer = writeBytes("longer.img", bytes);
    LogCapture::lines().clear();
    EXPECT_EQ(image_hdr_read(longer.c_str(), &hdr), -1);
    {
        imagetest::StdoutCapture out;
        EXPECT_EQ(image_display_info(longer.c_str()), -1);
    }
    EXPECT_TRUE(log.contains("Error, file size is illegal.")) << log.all();
    imagetest::fs::create_directory(file("out"));
    {
        imagetest::StdoutCapture out;
        EXPECT_EQ(image_extract_to(longer.c_str(), file("out").c_str()), 0) << log.all();
    }
    EXPECT_TRUE(imagetest::fs::exists(file("out/image.target")));
}

TEST_F(ImageReader, MetaReadReturnsTheFirst216BytesOfEachEntry)
{
    zelimg::ImageDesc desc = zelimg::sampleImage(4096);
    desc.components[2].crc = 0xCAFEF00D;
    std::vector<uint8_t> bytes = zelimg::buildImage(desc);
    // Bytes in the reserved tail of an entry are not part of the record.
    bytes[ImageLayout::entry(0) + 216] = 0x55;
    const std::string path = writeBytes("a.img", bytes);

    fwc_meta records[4];
    ASSERT_EQ(image_meta_read(path.c_str(), records, 4), 0);
    EXPECT_STREQ(records[0].magic, "ZEL.FWC");
    EXPECT_STREQ(records[0].name, "updater.spl");
    EXPECT_STREQ(records[0].partition, "spl");
    EXPECT_EQ(records[0].ram, 0x00200000u);
    EXPECT_STREQ(records[0].attributes, "run");
    EXPECT_EQ(records[0].offset, 2048u + 4 * 512);
    EXPECT_EQ(records[0].size, 6u * 1024);
    EXPECT_EQ(records[0].crc, zelimg::crc32Of(desc.components[0].bytes));
    EXPECT_EQ(records[1].offset, records[0].offset + records[0].size);
    EXPECT_STREQ(records[2].name, "image.target");
    EXPECT_EQ(records[2].crc, 0xCAFEF00Du);
    EXPECT_STREQ(records[3].name, "image.updater.env");
    EXPECT_EQ(uint64_t(records[3].offset) + records[3].size, bytes.size());
}

TEST_F(ImageReader, EntryCountIsMetaSizeShiftedRightByNine)
{
    // 1000 bytes of table: one entry; 511: none. The file keeps its length so
    // the header reader's rule still holds (file size absorbs the difference).
    std::vector<uint8_t> bytes = zelimg::buildImage(imagetest::oneComponent(std::vector<uint8_t>(600, 1)));
    const uint32_t total = uint32_t(bytes.size());
    putLe32(bytes, ImageLayout::kMetaSize, 1000);
    putLe32(bytes, ImageLayout::kFileSize, total - 2048 - 1000);
    std::string path = writeBytes("a.img", bytes);
    image_header hdr;
    ASSERT_EQ(image_hdr_read(path.c_str(), &hdr), 0);
    EXPECT_EQ(hdr.meta_size >> FWC_META_SHIFT, 1u);

    putLe32(bytes, ImageLayout::kMetaSize, 511);
    putLe32(bytes, ImageLayout::kFileSize, total - 2048 - 511);
    path = writeBytes("b.img", bytes);
    ASSERT_EQ(image_hdr_read(path.c_str(), &hdr), 0);
    EXPECT_EQ(hdr.meta_size >> FWC_META_SHIFT, 0u);
}

TEST_F(ImageReader, MetaReadRejectsEntryPastTheEndOfTheFile)
{
    std::vector<uint8_t> bytes = zelimg::buildImage(imagetest::oneComponent(std::vector<uint8_t>(600, 1)));
    putLe32(bytes, ImageLayout::entry(0) + ImageLayout::kFwcSize, 601);
    const std::string path = writeBytes("a.img", bytes);
    LogCapture log;
    fwc_meta record;
    EXPECT_EQ(image_meta_read(path.c_str(), &record, 1), -1);
    EXPECT_TRUE(log.contains("runs past the end of the file")) << log.all();

    // An offset near 4 GiB must not wrap around.
    putLe32(bytes, ImageLayout::entry(0) + ImageLayout::kFwcOffset, 0xFFFFFFF0u);
    putLe32(bytes, ImageLayout::entry(0) + ImageLayout::kFwcSize, 0x20);
    const std::string wrapped = writeBytes("b.img", bytes);
    EXPECT_EQ(image_meta_read(wrapped.c_str(), &record, 1), -1);
}

TEST_F(ImageReader, MetaReadFailsWhenTheTableIsShorterThanAsked)
{
    const std::string path = writeImage("a.img", imagetest::oneComponent({1, 2, 3}));
    LogCapture log;
    fwc_meta records[8];
    EXPECT_EQ(image_meta_read(path.c_str(), records, 8), -1);
    EXPECT_TRUE(log.contains("Error, read meta data failed.")) << log.all();
}

TEST_F(ImageReader, TextFieldsThatFillTheirWidthAreCutAtTheLastByte)
{
    std::vector<uint8_t> bytes = sample();
    std::memset(bytes.data() + ImageLayout::kPlatform, 'P', 64);
    std::memset(bytes.data() + ImageLayout::entry(0) + ImageLayout::kFwcAttributes, 'A', 64);
    const std::string path = writeBytes("a.img", bytes);
    image_header hdr;
    ASSERT_EQ(image_hdr_read(path.c_str(), &hdr), 0);
    EXPECT_EQ(std::string(hdr.platform), std::string(63, 'P'));
    fwc_meta records[4];
    ASSERT_EQ(image_meta_read(path.c_str(), records, 4), 0);
    EXPECT_EQ(std::string(records[0].attributes), std::string(63, 'A'));
}

// --- environment and partition list ---------------------------------------

class PartitionRead : public imagetest::ScratchDirTest
{
protected:
    // Writes an image whose env component holds the given raw bytes and
    // returns its path; offset and size of the env component go to *env.
    std::string imageWithEnv(const std::vector<uint8_t> &envBytes, fwc_meta *env)
    {
        zelimg::ImageDesc desc = imagetest::oneComponent(std::vector<uint8_t>(100, 7));
        zelimg::Component c = zelimg::envComponent("-(all)");
        c.bytes = envBytes;
        desc.components.push_back(c);
        const std::string path = writeImage("env.img", desc);
        fwc_meta records[2];
        EXPECT_EQ(image_meta_read(path.c_str(), records, 2), 0);
        *env = records[1];
        return path;
    }
    upg_partition *read(const std::vector<std::pair<std::string, std::string>> &vars)
    {
        return readBlob(zelimg::envBlob(vars));
    }
    upg_partition *readBlob(const std::vector<uint8_t> &blob)
    {
        fwc_meta env;
        const std::string path = imageWithEnv(blob, &env);
        return image_partition_read(path.c_str(), "parts_mmc", env.offset, env.size);
    }
    static std::vector<uint8_t> bytesOf(const std::string &text)
    {
        return std::vector<uint8_t>(text.begin(), text.end());
    }
};

TEST_F(PartitionRead, WholeMediumEntryStartsAt0x4400)
{
    LogCapture log;
    upg_partition *head = read({{"bootdelay", "3"}, {"parts_mmc", "-(all)"}});
    ASSERT_NE(head, nullptr) << log.all();
    EXPECT_STREQ(head->name, "all");
    EXPECT_EQ(head->start, 0x4400u);
    EXPECT_EQ(head->size, 0u);
    EXPECT_EQ(head->next, nullptr);
    EXPECT_FALSE(log.contains("First partition start offset is not correct"));
    zelupg_free_partition(head);
}

TEST_F(PartitionRead, ConsecutiveEntriesFollowEachOther)
{
    upg_partition *head = read({{"parts_mmc", "1m(a),2m(b)"}});
    ASSERT_NE(head, nullptr);
    ASSERT_NE(head->next, nullptr);
    EXPECT_EQ(head->start, 0x4400u);
    EXPECT_EQ(head->size, 1u << 20);
    EXPECT_STREQ(head->next->name, "b");
    EXPECT_EQ(head->next->start, 0x4400u + (1u << 20));
    EXPECT_EQ(head->next->size, 2u << 20);
    zelupg_free_partition(head);
}

TEST_F(PartitionRead, WrongFirstStartIsReportedButTheListIsReturned)
{
    LogCapture log;
    upg_partition *head = read({{"parts_mmc", "0x800@0(boot),-(rest)"}});
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->start, 0u);
    EXPECT_EQ(head->size, 0x800u);
    EXPECT_EQ(head->next->start, 0x800u);
    EXPECT_TRUE(log.contains("First partition start offset is not correct")) << log.all();
    zelupg_free_partition(head);
}

TEST_F(PartitionRead, KeyIsComparedAsAPrefix)
{
    // "parts_mmcX" matches the key "parts_mmc": the value then starts one
    // character past the key, at the "=", and so fails as a partition string
    // rather than as a missing key.
    LogCapture log;
    EXPECT_EQ(read({{"other", "1"}, {"parts_mmcX", "-(all)"}}), nullptr);
    EXPECT_TRUE(log.contains("Error: Failed to parse partition.")) << log.all();
    EXPECT_FALSE(log.contains("Failed to parse env data")) << log.all();
}

TEST_F(PartitionRead, ValueStartsOneCharacterPastTheKey)
{
    // With one extra letter and no "=", "parts_mmcs1m(a)" has the value "1m(a)".
    upg_partition *head = readBlob(bytesOf(std::string("parts_mmcs1m(a)") + '\0' + '\0'));
    ASSERT_NE(head, nullptr);
    EXPECT_STREQ(head->name, "a");
    EXPECT_EQ(head->size, 1u << 20);
    zelupg_free_partition(head);
}

TEST_F(PartitionRead, BlobStartingWith0xFFHasNoEnvironment)
{
    LogCapture log;
    std::vector<uint8_t> blob = zelimg::envBlob({{"parts_mmc", "-(all)"}});
    blob.insert(blob.begin(), 0xFF);
    EXPECT_EQ(readBlob(blob), nullptr);
    EXPECT_TRUE(log.contains("Error: Failed to parse env data.")) << log.all();
}

TEST_F(PartitionRead, SequenceEndsAtAnEmptyString)
{
    LogCapture log;
    std::vector<uint8_t> blob = bytesOf(std::string("a=1") + '\0' + '\0' + "parts_mmc=-(all)" + '\0');
    EXPECT_EQ(readBlob(blob), nullptr);
    EXPECT_TRUE(log.contains("Error: Failed to parse env data.")) << log.all();
}

TEST_F(PartitionRead, MissingKeyFails)
{
    LogCapture log;
    EXPECT_EQ(read({{"bootdelay", "3"}}), nullptr);
    EXPECT_TRUE(log.contains("Error: Failed to parse env data.")) << log.all();
}

TEST_F(PartitionRead, UnterminatedPartitionStringIsAClearError)
{
    LogCapture log;
    // The blob ends in the middle of the parts_mmc string: no NUL behind it.
    EXPECT_EQ(readBlob(bytesOf(std::string("a=1") + '\0' + "parts_mmc=-(all)")), nullptr);
    EXPECT_TRUE(log.contains("Error: partition string is not terminated.")) << log.all();

    // An unterminated string that is not the key ends the sequence.
    LogCapture::lines().clear();
    EXPECT_EQ(readBlob(bytesOf("bootdelay=3")), nullptr);
    EXPECT_TRUE(log.contains("Error: Failed to parse env data.")) << log.all();
}

TEST_F(PartitionRead, KeyWithoutValueFailsInsideTheBlob)
{
    LogCapture log;
    // "parts_mmc" alone: the value would start past its NUL, in the next string.
    EXPECT_EQ(readBlob(bytesOf(std::string("parts_mmc") + '\0' + "-(all)" + '\0' + '\0')), nullptr);
    EXPECT_TRUE(log.contains("Error: Failed to parse partition.")) << log.all();
}

TEST_F(PartitionRead, EnvironmentPastTheEndOfTheFileFails)
{
    fwc_meta env;
    const std::string path = imageWithEnv(zelimg::envBlob({{"parts_mmc", "-(all)"}}), &env);
    LogCapture log;
    EXPECT_EQ(image_partition_read(path.c_str(), "parts_mmc", env.offset, env.size + 1), nullptr);
    EXPECT_EQ(image_partition_read(path.c_str(), "parts_mmc", 0xFFFFFFF0u, 0x20), nullptr);
    EXPECT_TRUE(log.contains("Error, read meta data failed.")) << log.all();
    EXPECT_EQ(image_partition_read(file("none.img").c_str(), "parts_mmc", 0, 1), nullptr);
    EXPECT_TRUE(log.contains("Cannot open file")) << log.all();
}

TEST_F(PartitionRead, ParserFailureIsReported)
{
    LogCapture log;
    EXPECT_EQ(read({{"parts_mmc", "4x(a)"}}), nullptr);
    EXPECT_TRUE(log.contains("Partition name should be next of size.")) << log.all();
    EXPECT_TRUE(log.contains("Error: Failed to parse partition.")) << log.all();
}
