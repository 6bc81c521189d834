// The real ZelBurner against hostile command lines, odd files and boards that
// answer nonsense: it never escapes its log tree, never burns another board
// and never reports a failure as success.
#include "farm_harness.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <sys/stat.h>
#include <sys/types.h>
#include <zlib.h>

namespace {
zelimg::ImageDesc targetImage(size_t size)
{
    zelimg::ImageDesc desc = emptyImage();
    desc.components.push_back(
        component("image.target.data", "data", 0, "burn", patternBytes(size, 7)));
    return desc;
}

void expectOneFailure(const WorkerRun &run, int slot)
{
    ASSERT_EQ(run.reports.size(), 1u) << run.output.toStdString();
    EXPECT_EQ(run.reports[0].kind, 4);
    EXPECT_EQ(run.reports[0].slot, slot);
    EXPECT_EQ(run.reports[0].value, 0);
}

// Every file below dir, relative to it.
QStringList filesBelow(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void patch(const QString &path, qint64 offset, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(offset));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xff);
    return b;
}

// zlib CRC-32 of length zero bytes, without making them.
quint32 crcOfZeros(quint64 length)
{
    const Bytef zero = 0;
    uLong crc = crc32(0L, Z_NULL, 0);
    uLong block = crc32(0L, &zero, 1); // the CRC of blockLength zeros
    for (quint64 blockLength = 1; length; blockLength <<= 1) {
        if (length & blockLength) {
            crc = crc32_combine64(crc, block, z_off64_t(blockLength));
            length &= ~blockLength;
        }
        block = crc32_combine64(block, block, z_off64_t(blockLength));
    }
    return quint32(crc);
}
}  // namespace

class WorkerHardening : public FarmTest
{
};

TEST_F(WorkerHardening, HostileCommandLinesEndWithOneFailureAndWriteNothing)
{
    startFarm({"--board", "1:1", "--board", "1:2", "upgrade=1"});
    const QString image = writeImage(targetImage(4000));
    // Run two levels down, so "../../x" would still land in the test's folder.
    const QString cwd = m_work.filePath(QStringLiteral("a/b"));
    ASSERT_TRUE(QDir().mkpath(cwd));
    const QString encoded = QString::fromLatin1(image.toUtf8().toPercentEncoding());
    const QString absolute = m_work.filePath(QStringLiteral("abs"));

    const std::vector<std::pair<QString, QString>> positionAndName = {
        {"../../x", "100"},
        // A serial port is an absolute device path, never one that climbs.
        {absolute + "/../dir", "100"},
        {"1:1/../..", "100"},
        {"1:1", "../../escaped"},
        {"1:1", absolute + "/name"},
        {"1:1", "12:5"},
        // Numbers that would wrap into "any board" or into another port.
        {"255", "100"},
        {"-1", "100"},
        {"1:258", "100"},
        {"1:2:0", "100"},
        {"1:1:2:3:4:5:6:7:8", "100"},
    };
    for (const auto &[position, name] : positionAndName) {
        SCOPED_TRACE((position + " / " + name).toStdString());
        const WorkerRun run =
            runWorkerWith({"-i", "3", "-f", encoded, "-d", position, "-t", name}, cwd);
        expectOneFailure(run, 3);
        EXPECT_TRUE(run.output.startsWith("ZelBurner: -")) << run.output.toStdString();
    }
    // A path whose decoded form holds a NUL must not burn the file before it.
    const WorkerRun nul =
        runWorkerWith({"-i", "1", "-f", encoded + "%00.other", "-d", "1:1", "-t", "7"}, cwd);
    expectOneFailure(nul, 1);
    EXPECT_TRUE(nul.output.contains("holds a NUL byte")) << nul.output.toStdString();

    EXPECT_EQ(filesBelow(m_work.path()), QStringList{QStringLiteral("image.img")});
    EXPECT_TRUE(boardFwcs(QStringLiteral("1:1")).empty());
    EXPECT_TRUE(boardFwcs(QStringLiteral("1:2")).empty());
}

TEST_F(WorkerHardening, AnImageOrSettingsFileThatIsNotARegularFileFailsAtOnce)
{
    startFarm({"--board", "1:1", "upgrade=1"});
    const QString fifo = m_work.filePath(QStringLiteral("image.fifo"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const WorkerRun run =
        runWorkerWith({"-i", "0", "-f", QString::fromLatin1(fifo.toUtf8().toPercentEncoding()),
                       "-d", "1:1", "-t", "1"},
                      QString(), 20000);
    expectOneFailure(run, 0);
    EXPECT_TRUE(workerLog(QStringLiteral("1:1"), QStringLiteral("1"))
                    .contains(QStringLiteral("is not a regular file")));

    const QString image = writeImage(targetImage(4000));
    ASSERT_EQ(mkfifo(QFile::encodeName(m_work.filePath(QStringLiteral("Veldmark.ini"))).constData(),
                     0600),
              0);
    const WorkerRun settings =
        runWorkerWith({"-i", "0", "-f", QString::fromLatin1(image.toUtf8().toPercentEncoding()),
                       "-d", "1:1", "-t", "2"},
                      QString(), 20000);
    expectOneFailure(settings, 0);
    EXPECT_TRUE(workerLog(QStringLiteral("1:1"), QStringLiteral("2"))
                    .contains(QStringLiteral("Settings file is not a regular file")));
    EXPECT_TRUE(boardFwcs(QStringLiteral("1:1")).empty());
}

TEST_F(WorkerHardening, TheBoardGetsTheEntryBytesExactlyAsTheImageHoldsThem)
{
    startFarm({"--board", "1:1", "upgrade=1"});
    const QString image = writeImage(targetImage(4000));
    // Texts that fill their whole width, the magic's eighth byte and the
    // entry's tail beyond its known fields are all the board's to see.
    const qint64 entry = zelimg::ImageLayout::entry(0);
    patch(image, entry + 7, QByteArray("!"));
    patch(image, entry + zelimg::ImageLayout::kFwcName,
          QByteArray("image.target.") + QByteArray(51, 'n'));
    patch(image, entry + zelimg::ImageLayout::kFwcPartition, QByteArray(64, 'p'));
    patch(image, entry + zelimg::ImageLayout::kFwcAttributes,
          QByteArray("burn,") + QByteArray(59, 'a'));
    QByteArray tail(512 - 216, '\0');
    for (int i = 0; i < tail.size(); ++i)
        tail[i] = char(i * 7 + 1);
    patch(image, entry + 216, tail);

    const WorkerRun run = runWorker(0, image, QStringLiteral("1:1"));
    ASSERT_FALSE(run.reports.empty());
    EXPECT_EQ(run.reports.back().value, 1);
    const std::vector<BoardFwc> fwcs = boardFwcs(QStringLiteral("1:1"));
    ASSERT_EQ(fwcs.size(), 1u);
    const QByteArray expected = readFile(image).mid(int(entry), 512);
    EXPECT_EQ(
        QByteArray(reinterpret_cast<const char *>(fwcs[0].entry.data()), int(fwcs[0].entry.size()))
            .toHex(),
        expected.toHex());
}

TEST_F(WorkerHardening, TheEnvironmentBlobIsNoLoaderStage)
{
    startFarm({"--board", "1:1", "--board", "1:2", "restart_delay=100"});
    // Last in the run (the usual order): its burn result is checked like any other.
    farm("fault 1:1 burn_fail cmd=0x14 skip=1");
    const WorkerRun last = runWorker(
        0, writeImage(zelimg::sampleImage(), QStringLiteral("last.img")), QStringLiteral("1:1"));
    ASSERT_FALSE(last.reports.empty());
    EXPECT_EQ(last.reports.back().kind, 4);
    EXPECT_EQ(last.reports.back().value, 0);
    EXPECT_TRUE(workerLog(QStringLiteral("1:1"))
                    .contains(QStringLiteral("Burn result of image.updater.env is a failure: 1")));

    // Right behind the loader stages: the uboot stage is still the one handed over.
    zelimg::ImageDesc early = zelimg::sampleImage();
    std::swap(early.components[2], early.components[3]);
    const WorkerRun run =
        runWorker(1, writeImage(early, QStringLiteral("early.img")), QStringLiteral("1:2"));
    ASSERT_FALSE(run.reports.empty());
    EXPECT_EQ(run.reports.back().kind, 4);
    EXPECT_EQ(run.reports.back().value, 1);
    EXPECT_EQ(ofKind(run.reports, 2).size(), 1u);
    EXPECT_TRUE(workerLog(QStringLiteral("1:2"))
                    .contains(QStringLiteral("Don't check the result of updater.uboot")));
}

TEST_F(WorkerHardening, ABlockSizeAboveTheBoundFailsBeforeAnyData)
{
    startFarm({"--board", "1:1", "upgrade=1", "block=1073741824"});
    const WorkerRun run = runWorker(0, writeImage(targetImage(300000)), QStringLiteral("1:1"));
    ASSERT_FALSE(run.reports.empty());
    EXPECT_EQ(run.reports.back().kind, 4);
    EXPECT_EQ(run.reports.back().value, 0);
    for (const ReceivedReport &r : ofKind(run.reports, 1))
        EXPECT_EQ(r.value, 0);
    const std::vector<BoardFwc> fwcs = boardFwcs(QStringLiteral("1:1"));
    ASSERT_EQ(fwcs.size(), 1u);
    EXPECT_EQ(fwcs[0].received, 0u);
    EXPECT_TRUE(workerLog(QStringLiteral("1:1"))
                    .contains(QStringLiteral(
                        "Dev \"1:1\" Block size 1073741824 is above the limit of 4194304")));
}

TEST_F(WorkerHardening, AnImageWithoutComponentsSaysWhy)
{
    startFarm({"--board", "1:1", "upgrade=1"});
    const QString empty = writeImage(emptyImage(), QStringLiteral("empty.img"));
    const WorkerRun run = runWorker(0, empty, QStringLiteral("1:1"), QStringLiteral("1"));
    expectOneFailure(run, 0);
    EXPECT_TRUE(workerLog(QStringLiteral("1:1"), QStringLiteral("1"))
                    .contains(QStringLiteral(
                        "Image has no components: its meta size 0 holds no 512 byte entry")));

    // A table of 100 bytes holds no entry either.
    QByteArray bytes = readFile(empty) + QByteArray(100, '\0');
    bytes.replace(zelimg::ImageLayout::kMetaSize, 4, le32(100));
    const QString small = m_work.filePath(QStringLiteral("small.img"));
    QFile file(small);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    const WorkerRun smallRun = runWorker(0, small, QStringLiteral("1:1"), QStringLiteral("2"));
    expectOneFailure(smallRun, 0);
    EXPECT_TRUE(workerLog(QStringLiteral("1:1"), QStringLiteral("2"))
                    .contains(QStringLiteral("its meta size 100 holds no")));
}

TEST_F(WorkerHardening, TheRestIsLoggedOnlyOnceItWasRead)
{
    startFarm({"--board", "1:1", "upgrade=1"});
    const QString image = writeImage(targetImage(100));
    // The image loses its data once the worker has read the table.
    setBeforeFirstReport([image] { QFile::resize(image, 2048 + 512); });
    const WorkerRun run = runWorker(0, image, QStringLiteral("1:1"));
    ASSERT_FALSE(run.reports.empty());
    EXPECT_EQ(run.reports.back().value, 0);
    const QString log = workerLog(QStringLiteral("1:1"));
    EXPECT_TRUE(log.contains(QStringLiteral(" Dev \"1:1\" Failed to read 100")))
        << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Send the rest data"))) << log.toStdString();
}

TEST_F(WorkerHardening, ProgressPastTwoGiBStaysAGrowingNonNegativeCount)
{
    startFarm({"--board", "1:1", "upgrade=1"});
    // A sparse image: a component of zeros beyond 2 GiB, then one that lies
    // past the 2 GiB mark of the file.
    const quint32 big = 0x80000000u + 1000u;
    zelimg::ImageDesc desc = emptyImage();
    desc.components.push_back(component("image.target.big", "big", 0, "burn", {0}));
    desc.components.push_back(
        component("image.target.tail", "tail", 0, "burn", patternBytes(3000, 5)));
    const QString path = writeImage(desc);
    QByteArray head = readFile(path);
    const QByteArray tail = head.right(3000);
    head.truncate(2048 + 2 * 512);
    const quint32 dataStart = 2048 + 2 * 512;
    head.replace(zelimg::ImageLayout::kFileSize, 4, le32(big + 3000));
    head.replace(zelimg::ImageLayout::entry(0) + zelimg::ImageLayout::kFwcSize, 4, le32(big));
    head.replace(zelimg::ImageLayout::entry(0) + zelimg::ImageLayout::kFwcCrc, 4,
                 le32(crcOfZeros(big)));
    head.replace(zelimg::ImageLayout::entry(1) + zelimg::ImageLayout::kFwcOffset, 4,
                 le32(dataStart + big));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(head);
    ASSERT_TRUE(file.seek(qint64(dataStart) + big));
    file.write(tail);
    file.close();

    const WorkerRun run = runWorker(0, path, QStringLiteral("1:1"));
    ASSERT_FALSE(run.reports.empty());
    EXPECT_EQ(run.reports.back().kind, 4);
    EXPECT_EQ(run.reports.back().value, 1) << workerLog(QStringLiteral("1:1")).toStdString();
    qint64 last = -1;
    for (const ReceivedReport &r : ofKind(run.reports, 1)) {
        EXPECT_GE(r.value, last);
        last = r.value;
    }
    EXPECT_EQ(last, qint64(big) + 24 + 3072); // each component's rest padded to 512
    const std::vector<BoardFwc> fwcs = boardFwcs(QStringLiteral("1:1"));
    ASSERT_EQ(fwcs.size(), 2u);
    EXPECT_EQ(fwcs[1].crc, zelimg::crc32Of(patternBytes(3000, 5)));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
