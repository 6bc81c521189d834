// A burn reported as success must have put the image's bytes on the board:
// wrong CRCs, rejected results and short reads all end in a failure.
#include "farm_harness.h"

#include <QCoreApplication>
#include <QFile>

namespace {
zelimg::ImageDesc twoTargets()
{
    zelimg::ImageDesc desc = emptyImage();
    desc.components.push_back(component("image.target.kernel", "kernel", 0, "burn", patternBytes(1500000, 5)));
    desc.components.push_back(component("image.target.rootfs", "rootfs", 0, "burn,run", patternBytes(700000, 6)));
    return desc;
}

void expectFailedAfterFirstComponent(const WorkerRun &run, const std::vector<BoardFwc> &fwcs)
{
    ASSERT_FALSE(run.reports.empty());
    EXPECT_EQ(ofKind(run.reports, 4).size(), 1u);
    EXPECT_EQ(run.reports.back().kind, 4);
    EXPECT_EQ(run.reports.back().value, 0);
    // Nothing of the component after the failing one reached the board.
    ASSERT_EQ(fwcs.size(), 1u);
    EXPECT_EQ(fwcs[0].name, "image.target.kernel");
}
}  // namespace

class BurnIntegrity : public FarmTest
{
};

TEST_F(BurnIntegrity, ACrcThatDiffersFromTheEntryFailsTheComponent)
{
    startFarm({"--board", "1:1", "upgrade=1"});
    farm("fault 1:1 crc");
    const zelimg::ImageDesc desc = twoTargets();
    const WorkerRun run = runWorker(0, writeImage(desc), QStringLiteral("1:1"));
    expectFailedAfterFirstComponent(run, boardFwcs(QStringLiteral("1:1")));
    const quint32 crc = zelimg::crc32Of(desc.components[0].bytes);
    const QString expected = QStringLiteral("0x") + QString::number(crc, 16).rightJustified(8, QLatin1Char('0')).toUpper();
    const QString reported = QStringLiteral("0x") + QString::number(~crc, 16).rightJustified(8, QLatin1Char('0')).toUpper();
    EXPECT_TRUE(workerLog(QStringLiteral("1:1")).contains(
        QStringLiteral("Dev \"1:1\" CRC of image.target.kernel is wrong: expected %1 reported %2").arg(expected, reported)))
        << workerLog(QStringLiteral("1:1")).toStdString();
}

TEST_F(BurnIntegrity, AnEntryCrcThatIsNotTheImagesBytesFailsToo)
{
    startFarm({"--board", "1:2", "upgrade=1"});
    zelimg::ImageDesc desc = twoTargets();
    desc.components[0].crc = zelimg::crc32Of(desc.components[0].bytes) ^ 1u;
    const WorkerRun run = runWorker(0, writeImage(desc), QStringLiteral("1:2"));
    expectFailedAfterFirstComponent(run, boardFwcs(QStringLiteral("1:2")));
    EXPECT_TRUE(workerLog(QStringLiteral("1:2")).contains(QStringLiteral("is wrong: expected")));
}

TEST_F(BurnIntegrity, RejectedBurnOrRunResultsFailTheComponent)
{
    startFarm({"--board", "1:1", "--board", "1:2", "upgrade=1"});
    farm("fault 1:1 burn_fail value=7");
    const WorkerRun burn = runWorker(0, writeImage(twoTargets()), QStringLiteral("1:1"));
    expectFailedAfterFirstComponent(burn, boardFwcs(QStringLiteral("1:1")));
    EXPECT_TRUE(workerLog(QStringLiteral("1:1")).contains(
        QStringLiteral("Dev \"1:1\" Burn result of image.target.kernel is a failure: 7")));

    // The run result is asked only where the attributes say "run": the second component.
    farm("fault 1:2 run_fail");
    const WorkerRun runResult = runWorker(1, writeImage(twoTargets()), QStringLiteral("1:2"));
    EXPECT_EQ(runResult.reports.back().kind, 4);
    EXPECT_EQ(runResult.reports.back().value, 0);
    EXPECT_EQ(boardFwcs(QStringLiteral("1:2")).size(), 2u);
    EXPECT_TRUE(workerLog(QStringLiteral("1:2")).contains(
        QStringLiteral("Run result of image.target.rootfs is a failure: 1")));
}

TEST_F(BurnIntegrity, AnEntryRunningPastTheEndOfTheFileSendsNothing)
{
    startFarm({"--board", "1:1", "upgrade=1"});
    const QString path = writeImage(twoTargets());
    // Stretch the last entry's size past the end of the file.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(zelimg::ImageLayout::entry(1) + zelimg::ImageLayout::kFwcSize));
    const quint32 size = 700000 + 4096;
    const char bytes[4] = {char(size & 0xff), char((size >> 8) & 0xff), char((size >> 16) & 0xff), char(size >> 24)};
    file.write(bytes, 4);
    file.close();

    const WorkerRun run = runWorker(0, path, QStringLiteral("1:1"));
    ASSERT_EQ(run.reports.size(), 1u);
    EXPECT_EQ(run.reports.back().kind, 4);
    EXPECT_EQ(run.reports.back().value, 0);
    EXPECT_TRUE(boardFwcs(QStringLiteral("1:1")).empty());
    EXPECT_TRUE(workerLog(QStringLiteral("1:1")).contains(QStringLiteral("Failed to read meta data")));
}

TEST_F(BurnIntegrity, AnImageTruncatedDuringTheBurnFailsOnTheShortRead)
{
    startFarm({"--board", "1:1", "upgrade=1"});
    const QString path = writeImage(twoTargets());
    // The worker waits on its first report; cut the file there, inside the
    // first component's second chunk.
    setBeforeFirstReport([path] { QFile::resize(path, 2048 + 1024 + 1048576 + 1000); });
    const WorkerRun run = runWorker(0, path, QStringLiteral("1:1"));
    EXPECT_EQ(run.reports.back().kind, 4);
    EXPECT_EQ(run.reports.back().value, 0);
    // One full chunk went out; the short rest did not.
    EXPECT_EQ(ofKind(run.reports, 1).back().value, 1048576);
    const std::vector<BoardFwc> fwcs = boardFwcs(QStringLiteral("1:1"));
    ASSERT_EQ(fwcs.size(), 1u);
    EXPECT_EQ(fwcs[0].received, 1048576u);
    EXPECT_TRUE(workerLog(QStringLiteral("1:1")).contains(QStringLiteral("Failed to read 451424")));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
