// FirmwareImage: GB2312 paths, Chinese paths on Linux, caching and messages.

#include "image_test_util.h"

#include "firmware_image.h"
#include "partition.h"

#include <QFile>
#include <QString>
#include <QTextCodec>
#include <QtGlobal>

#include <cstring>

using imagetest::LogCapture;
using imagetest::putLe32;
using zelimg::ImageLayout;

namespace {

// Qt messages while an instance lives, as (type, category, text).
class QtMessages
{
public:
    struct Message {
        QtMsgType type;
        std::string category;
        std::string text;
    };
    QtMessages()
    {
        list().clear();
        m_previous = qInstallMessageHandler(&QtMessages::handler);
    }
    ~QtMessages() { qInstallMessageHandler(m_previous); }
    static std::vector<Message> &list()
    {
        static std::vector<Message> messages;
        return messages;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        list().push_back({type, context.category ? context.category : "", text.toStdString()});
    }
    QtMessageHandler m_previous;
};

class FirmwareImageTest : public imagetest::ScratchDirTest
{
protected:
    QString qpath(const std::string &name) const { return QString::fromStdString(file(name)); }
};

QByteArray bytes(const std::string &s)
{
    return QByteArray(s.data(), int(s.size()));
}

} // namespace

TEST(Gb2312Path, ChineseCharactersBecomeGb2312Bytes)
{
    const QString path = QString::fromUtf8("D:/固件/镜像.img");
    const std::string gb = toGb2312Path(path);
    EXPECT_EQ(QByteArray::fromStdString(gb).toHex(),
              QByteArray("443a2f") + "b9ccbcfe" + "2f" + "beb5cff1" + "2e696d67");
}

TEST(Gb2312Path, RoundTripOfGb2312Text)
{
    QTextCodec *codec = QTextCodec::codecForName("GB2312");
    ASSERT_NE(codec, nullptr);
    const QString path = QString::fromUtf8("/产线/Zelkora量产工具/固件 v1.0/镜像_α.img");
    EXPECT_EQ(codec->toUnicode(bytes(toGb2312Path(path))), path);
}

TEST(Gb2312Path, CharactersOutsideGb2312AreLost)
{
    QTextCodec *codec = QTextCodec::codecForName("GB2312");
    ASSERT_NE(codec, nullptr);
    const QString path = QString::fromUtf8("/tmp/한국.img");
    EXPECT_NE(codec->toUnicode(bytes(toGb2312Path(path))), path);
}

TEST(Gb2312Path, LibraryGetsNativeFileNameBytesOnLinux)
{
    const QString path = QString::fromUtf8("/tmp/固件.img");
    EXPECT_EQ(bytes(toLibraryPath(path)), QFile::encodeName(path));
    EXPECT_EQ(bytes(toLibraryPath(path)), path.toUtf8());
}

TEST_F(FirmwareImageTest, ChinesePathOpensOnLinux)
{
    imagetest::fs::create_directories(m_dir / u8"固件");
    zelimg::ImageDesc desc = zelimg::sampleImage(4096);
    const std::string path = writeImage(u8"固件/镜像.img", desc);

    FirmwareImage image(QString::fromUtf8(path.c_str()));
    ASSERT_EQ(image.load(), 0);
    EXPECT_EQ(image.fwcCount(), 4);
    EXPECT_EQ(image.platform(), "zk3308");
    EXPECT_EQ(image.product(), "zelkora-demo");
    EXPECT_EQ(image.version(), "1.0.8");
    EXPECT_EQ(image.mediaType(), "emmc");
    EXPECT_EQ(image.mediaId(), "mmc0");
    EXPECT_EQ(image.mediaDeviceNumber(), 0u);
    const fwc_meta *records = image.fwcRecords();
    ASSERT_NE(records, nullptr);
    EXPECT_STREQ(records[2].name, "image.target");
    const upg_partition *parts = image.partitions();
    ASSERT_NE(parts, nullptr);
    EXPECT_EQ(image.partitionCount(), 3);
    EXPECT_STREQ(parts->name, "boot");
    EXPECT_EQ(parts->start, 0x4400u);
}

TEST_F(FirmwareImageTest, PathOutsideGb2312StillOpensOnLinux)
{
    // Linux hands the library UTF-8 names, so nothing is lost in conversion.
    const std::string path = writeImage(u8"한국.img", zelimg::sampleImage(1024));
    FirmwareImage image(QString::fromUtf8(path.c_str()));
    EXPECT_EQ(image.load(), 0);
}

TEST_F(FirmwareImageTest, HeaderFieldsAreLatin1)
{
    zelimg::ImageDesc desc = zelimg::sampleImage(1024);
    desc.product = "caf\xE9";
    desc.mediaDeviceNumber = 7;
    const std::string path = writeImage("a.img", desc);
    FirmwareImage image(QString::fromStdString(path));
    ASSERT_EQ(image.load(), 0);
    EXPECT_EQ(image.product(), QString::fromUtf8("café"));
    EXPECT_EQ(image.mediaDeviceNumber(), 7u);
    EXPECT_EQ(image.fileSize(), imagetest::fs::file_size(path) - 2048 - 4 * 512);
}

TEST_F(FirmwareImageTest, NewObjectIsEmpty)
{
    FirmwareImage image;
    EXPECT_TRUE(image.path().isEmpty());
    EXPECT_EQ(image.fwcCount(), 0);
    EXPECT_EQ(image.partitionCount(), 0);
    EXPECT_EQ(image.fwcRecords(), nullptr);
    EXPECT_EQ(image.partitions(), nullptr);
    EXPECT_EQ(image.platform(), "");
}

TEST_F(FirmwareImageTest, RecordsAreReadOnceAndCached)
{
    const std::string path = writeImage("a.img", zelimg::sampleImage(2048));
    FirmwareImage image(QString::fromStdString(path));
    ASSERT_EQ(image.load(), 0);
    const fwc_meta *first = image.fwcRecords();
    ASSERT_NE(first, nullptr);
    const upg_partition *parts = image.partitions();
    ASSERT_NE(parts, nullptr);
    // With the file gone, only the cache can answer.
    imagetest::fs::remove(path);
    EXPECT_EQ(image.fwcRecords(), first);
    EXPECT_EQ(image.partitions(), parts);
    EXPECT_STREQ(image.fwcRecords()[0].name, "updater.spl");
}

TEST_F(FirmwareImageTest, FailedLoadAfterAGoodOneLeavesNoRecords)
{
    const std::string good = writeImage("good.img", zelimg::sampleImage(2048));
    FirmwareImage image(QString::fromStdString(good));
    ASSERT_EQ(image.load(), 0);
    ASSERT_EQ(image.fwcCount(), 4);
    ASSERT_NE(image.fwcRecords(), nullptr);

    // A one-entry image that fails the header's length rule: its table could
    // still be read, but never with the earlier image's count of four.
    std::vector<uint8_t> small = zelimg::buildImage(imagetest::oneComponent({1, 2, 3}));
    small.push_back(0);
    image.setPath(QString::fromStdString(writeBytes("bad.img", small)));
    EXPECT_EQ(image.platform(), ""); // setPath clears the header
    QtMessages messages;
    EXPECT_EQ(image.load(), -1);
    EXPECT_EQ(image.fwcCount(), 0);
    EXPECT_EQ(image.fwcRecords(), nullptr);
    EXPECT_EQ(image.partitions(), nullptr);
    EXPECT_TRUE(QtMessages::list().empty());

    // A later good load works again.
    image.setPath(QString::fromStdString(good));
    ASSERT_EQ(image.load(), 0);
    EXPECT_NE(image.fwcRecords(), nullptr);
}

TEST_F(FirmwareImageTest, LoadDropsTheCachedTables)
{
    const std::string a = writeImage("a.img", zelimg::sampleImage(2048));
    zelimg::ImageDesc other = imagetest::oneComponent({1, 2, 3}, "only.one");
    const std::string b = writeImage("b.img", other);
    FirmwareImage image(QString::fromStdString(a));
    ASSERT_EQ(image.load(), 0);
    ASSERT_NE(image.partitions(), nullptr);
    image.setPath(QString::fromStdString(b));
    ASSERT_EQ(image.load(), 0);
    EXPECT_EQ(image.fwcCount(), 1);
    ASSERT_NE(image.fwcRecords(), nullptr);
    EXPECT_STREQ(image.fwcRecords()[0].name, "only.one");
    EXPECT_EQ(image.partitions(), nullptr);
    EXPECT_EQ(image.partitionCount(), 0);
}

TEST_F(FirmwareImageTest, MissingFileFailsWithTheReadersMessage)
{
    LogCapture log;
    FirmwareImage image(qpath("none.img"));
    EXPECT_EQ(image.load(), -1);
    EXPECT_TRUE(log.contains("Cannot open file " + file("none.img"))) << log.all();
}

TEST_F(FirmwareImageTest, NoEnvironmentComponentMeansNoPartitionsAndNoMessage)
{
    const std::string path = writeImage("a.img", imagetest::oneComponent({1, 2, 3}));
    FirmwareImage image(QString::fromStdString(path));
    ASSERT_EQ(image.load(), 0);
    QtMessages messages;
    LogCapture log;
    EXPECT_EQ(image.partitions(), nullptr);
    EXPECT_TRUE(QtMessages::list().empty());
    EXPECT_TRUE(LogCapture::lines().empty()) << log.all();
}

TEST_F(FirmwareImageTest, EnvironmentNameMustMatchExactly)
{
    zelimg::ImageDesc desc = imagetest::oneComponent({1, 2, 3});
    zelimg::Component env = zelimg::envComponent("-(all)");
    env.name = "image.updater.env2";
    desc.components.push_back(env);
    FirmwareImage image(QString::fromStdString(writeImage("a.img", desc)));
    ASSERT_EQ(image.load(), 0);
    QtMessages messages;
    EXPECT_EQ(image.partitions(), nullptr);
    EXPECT_TRUE(QtMessages::list().empty());
}

TEST_F(FirmwareImageTest, BadPartitionStringIsAWarning)
{
    zelimg::ImageDesc desc = imagetest::oneComponent({1, 2, 3});
    desc.components.push_back(zelimg::envComponent("4x(a)"));
    FirmwareImage image(QString::fromStdString(writeImage("a.img", desc)));
    ASSERT_EQ(image.load(), 0);
    QtMessages messages;
    EXPECT_EQ(image.partitions(), nullptr);
    ASSERT_EQ(QtMessages::list().size(), 1u);
    EXPECT_EQ(QtMessages::list()[0].type, QtWarningMsg);
    EXPECT_EQ(QtMessages::list()[0].category, "default");
    EXPECT_EQ(QtMessages::list()[0].text, "Failed to parse the partition table");
}

TEST_F(FirmwareImageTest, UnreadableTableIsCriticalAndRetried)
{
    // The header is valid but the entry points past the end of the file.
    std::vector<uint8_t> bytes = zelimg::buildImage(imagetest::oneComponent({1, 2, 3}));
    putLe32(bytes, ImageLayout::entry(0) + ImageLayout::kFwcSize, 4);
    const std::string path = writeBytes("a.img", bytes);
    FirmwareImage image(QString::fromStdString(path));
    ASSERT_EQ(image.load(), 0);
    QtMessages messages;
    EXPECT_EQ(image.fwcRecords(), nullptr);
    ASSERT_EQ(QtMessages::list().size(), 1u);
    EXPECT_EQ(QtMessages::list()[0].type, QtCriticalMsg);
    EXPECT_EQ(QtMessages::list()[0].text, "Failed to read meta data");

    // The next call reads again: repaired on disk, it now succeeds.
    putLe32(bytes, ImageLayout::entry(0) + ImageLayout::kFwcSize, 3);
    writeBytes("a.img", bytes);
    EXPECT_NE(image.fwcRecords(), nullptr);
}

TEST_F(FirmwareImageTest, EmptyTableHasNoRecordsAndNoMessage)
{
    std::vector<uint8_t> bytes = zelimg::buildImage(imagetest::oneComponent({1, 2, 3}));
    const uint32_t total = uint32_t(bytes.size());
    putLe32(bytes, ImageLayout::kMetaSize, 511);
    putLe32(bytes, ImageLayout::kFileSize, total - 2048 - 511);
    FirmwareImage image(QString::fromStdString(writeBytes("a.img", bytes)));
    ASSERT_EQ(image.load(), 0);
    EXPECT_EQ(image.fwcCount(), 0);
    QtMessages messages;
    EXPECT_EQ(image.fwcRecords(), nullptr);
    EXPECT_TRUE(QtMessages::list().empty());
}

TEST_F(FirmwareImageTest, SetPathKeepsCachedTablesButReadsNothingBeforeLoad)
{
    const std::string a = writeImage("a.img", zelimg::sampleImage(2048));
    const std::string b = writeImage("b.img", imagetest::oneComponent({1, 2, 3}, "only.one"));
    FirmwareImage cached(QString::fromStdString(a));
    ASSERT_EQ(cached.load(), 0);
    const fwc_meta *records = cached.fwcRecords();
    ASSERT_NE(records, nullptr);
    cached.setPath(QString::fromStdString(b));
    EXPECT_EQ(cached.path(), QString::fromStdString(b));
    EXPECT_EQ(cached.fwcRecords(), records);
    EXPECT_STREQ(cached.fwcRecords()[0].name, "updater.spl");

    // Nothing cached yet: the new file is not read with the old count of four.
    FirmwareImage fresh(QString::fromStdString(a));
    ASSERT_EQ(fresh.load(), 0);
    fresh.setPath(QString::fromStdString(b));
    QtMessages messages;
    EXPECT_EQ(fresh.fwcRecords(), nullptr);
    EXPECT_TRUE(QtMessages::list().empty());
    ASSERT_EQ(fresh.load(), 0);
    ASSERT_NE(fresh.fwcRecords(), nullptr);
    EXPECT_STREQ(fresh.fwcRecords()[0].name, "only.one");
}

TEST_F(FirmwareImageTest, ComponentTableIsBoundedWhateverTheHeaderClaims)
{
    auto manyComponents = [](int count) {
        zelimg::ImageDesc desc = imagetest::oneComponent({1}, "c0");
        for (int i = 1; i < count; i++)
            desc.components.push_back(
                {"c" + std::to_string(i), "p", 0, "burn", {uint8_t(i)}, {}, "ZEL.FWC"});
        return desc;
    };
    FirmwareImage full(
        QString::fromStdString(writeImage("full.img", manyComponents(IMAGE_MAX_FWC_COUNT))));
    ASSERT_EQ(full.load(), 0);
    ASSERT_EQ(full.fwcCount(), IMAGE_MAX_FWC_COUNT);
    ASSERT_NE(full.fwcRecords(), nullptr);
    EXPECT_EQ(full.fwcRecords()[IMAGE_MAX_FWC_COUNT - 1].name,
              "c" + std::to_string(IMAGE_MAX_FWC_COUNT - 1));

    LogCapture log;
    FirmwareImage over(
        QString::fromStdString(writeImage("over.img", manyComponents(IMAGE_MAX_FWC_COUNT + 1))));
    EXPECT_EQ(over.load(), -1);
    EXPECT_EQ(over.fwcRecords(), nullptr);
    EXPECT_TRUE(log.contains("FWC table of " + std::to_string(IMAGE_MAX_FWC_COUNT + 1) +
                             " entries is larger than the limit of " +
                             std::to_string(IMAGE_MAX_FWC_COUNT)))
        << log.all();

    // A 4 GiB file claiming a table of eight million entries is refused from
    // its header, before any of the table is read.
    imagetest::writeHugeTableImage(file("huge.img"));
    FirmwareImage huge(qpath("huge.img"));
    EXPECT_EQ(huge.load(), -1);
    EXPECT_EQ(huge.fwcCount(), 0);
    EXPECT_TRUE(log.contains("FWC table of 8388604 entries is larger than the limit")) << log.all();

    // The reader itself refuses a count beyond the bound.
    std::vector<fwc_meta> records(IMAGE_MAX_FWC_COUNT + 1);
    EXPECT_EQ(image_meta_read(file("full.img").c_str(), records.data(), IMAGE_MAX_FWC_COUNT + 1),
              -1);
}
