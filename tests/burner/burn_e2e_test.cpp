// The real ZelBurner against boards of a farm, as the console starts it.
#include "farm_harness.h"
#include "report_protocol.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QThread>

#include <numeric>

namespace {
// Loader stages, a target, the environment and a second target.
zelimg::ImageDesc loaderImage(size_t kernelSize, size_t rootfsSize)
{
    zelimg::ImageDesc desc = emptyImage();
    desc.components.push_back(component("updater.spl", "spl", 0x200000, "run", patternBytes(6000, 1)));
    desc.components.push_back(component("updater.uboot", "uboot", 0x600000, "run", patternBytes(70000, 2)));
    desc.components.push_back(component("image.target.kernel", "kernel", 0, "burn", patternBytes(kernelSize, 3)));
    desc.components.push_back(zelimg::envComponent("4m(kernel),-(rootfs)"));
    desc.components.push_back(component("image.target.rootfs", "rootfs", 0, "burn", patternBytes(rootfsSize, 4)));
    return desc;
}

// One target component on a board already in upgrade mode.
zelimg::ImageDesc singleImage(size_t size, const std::string &attributes = "burn")
{
    zelimg::ImageDesc desc = emptyImage();
    desc.components.push_back(component("image.target.data", "data", 0, attributes, patternBytes(size, 9)));
    return desc;
}

quint32 paddedTo(quint32 size, quint32 block)
{
    return (size + block - 1) / block * block;
}

// A process that exists and is not a zombie.
bool processIsRunning(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && text.size() > close + 2 && text.at(close + 2) != 'Z';
}

void expectOneResultLast(const WorkerRun &run, int value)
{
    ASSERT_FALSE(run.reports.empty());
    EXPECT_EQ(ofKind(run.reports, 4).size(), 1u);
    EXPECT_EQ(run.reports.back().kind, 4);
    EXPECT_EQ(run.reports.back().value, value);
}
}  // namespace

class BurnE2E : public FarmTest
{
};

TEST_F(BurnE2E, FullBurnPutsEveryComponentOnTheBoardAndReportsInOrder)
{
    startFarm({"--board", "1:3", "restart_delay=200", "traceinfo=SN-0042"});
    const zelimg::ImageDesc desc = loaderImage(3 * 1024 * 1024 + 1000, 1024 * 1024);
    const QString image = writeImage(desc);
    const WorkerRun run = runWorker(2, image, QStringLiteral("1:3"), QStringLiteral("4242"));
    EXPECT_EQ(run.exitCode, 0);

    // The board got every component with its size and computed its CRC.
    const std::vector<BoardFwc> fwcs = boardFwcs(QStringLiteral("1:3"));
    ASSERT_EQ(fwcs.size(), desc.components.size());
    quint64 expectedBytes = 0;
    for (size_t i = 0; i < fwcs.size(); ++i) {
        const zelimg::Component &c = desc.components[i];
        EXPECT_EQ(fwcs[i].name, c.name);
        EXPECT_EQ(fwcs[i].size, c.bytes.size());
        EXPECT_EQ(fwcs[i].crc, zelimg::crc32Of(c.bytes)) << c.name;
        EXPECT_EQ(fwcs[i].received, paddedTo(static_cast<quint32>(c.bytes.size()), 512));
        expectedBytes += paddedTo(static_cast<quint32>(c.bytes.size()), 512);
    }

    // The board's identity first, then 1 with 0, rising progress, 2 and 3
    // around the restart, then 4 with 1.
    ASSERT_EQ(run.traces.size(), 1u);
    EXPECT_EQ(run.traces[0].slot, 2);
    EXPECT_EQ(run.traces[0].bytes, QByteArray("SN-0042"));
    EXPECT_EQ(run.traces[0].reportsBefore, 0u);
    ASSERT_GE(run.reports.size(), 3u);
    EXPECT_EQ(run.reports.front().kind, 1);
    EXPECT_EQ(run.reports.front().value, 0);
    expectOneResultLast(run, 1);
    for (const ReceivedReport &r : run.reports)
        EXPECT_EQ(r.slot, 2);
    const auto waits = ofKind(run.reports, 2);
    const auto resumes = ofKind(run.reports, 3);
    EXPECT_EQ(waits.size(), 1u);
    EXPECT_EQ(resumes.size(), 1u);
    int last = -1;
    for (const ReceivedReport &r : ofKind(run.reports, 1)) {
        EXPECT_GE(r.value, last);
        last = r.value;
    }
    EXPECT_EQ(static_cast<quint64>(last), expectedBytes);
    // The wait comes after the loader stages and before the first target chunk.
    const auto waitAt = std::find_if(run.reports.begin(), run.reports.end(), [](auto &r) { return r.kind == 2; });
    ASSERT_NE(waitAt, run.reports.end());
    EXPECT_EQ((waitAt + 1)->kind, 3);
    EXPECT_EQ((waitAt - 1)->value, static_cast<int>(paddedTo(6000, 512) + paddedTo(70000, 512)));

    const QString log = workerLog(QStringLiteral("1:3"), QStringLiteral("4242"));
    EXPECT_TRUE(log.contains(QStringLiteral("[debug] [")));
    EXPECT_TRUE(log.contains(QStringLiteral("Burn Image file \"") + image + QStringLiteral("\" ...")));
    EXPECT_TRUE(log.contains(QStringLiteral("Meta 2 image.target.kernel ...")));
    EXPECT_TRUE(log.contains(QStringLiteral("Blocksize 512 , chunk 1048576 * 3 , rest 1000")));
    EXPECT_TRUE(log.contains(QStringLiteral("Don't check the result of updater.uboot")));
    EXPECT_TRUE(log.contains(QStringLiteral("Waiting \"1:3\" over")));
    EXPECT_TRUE(log.contains(QStringLiteral("Burn \"1:3\" successfully!")));
}

TEST_F(BurnE2E, ChunksAreWholeBlocksAndTheRestIsPaddedWithZeros)
{
    // A slow bus (5 MB/s): each chunk takes longer than the worker's progress
    // pace, so every chunk's end is reported.
    startFarm({"--board", "1:1", "--board", "1:2", "--board", "1:4", "upgrade=1", "block=3000",
               "link=1", "bus_mbps=40"});
    farm("set 1:2 block=512");
    farm("set 1:4 block=512");

    // Block 3000: chunks of 349 blocks, the rest padded to 3000.
    const QString big = writeImage(singleImage(2 * 1047000 + 10), QStringLiteral("big.img"));
    const WorkerRun run = runWorker(0, big, QStringLiteral("1:1"));
    expectOneResultLast(run, 1);
    std::vector<int> progress;
    for (const ReceivedReport &r : ofKind(run.reports, 1))
        progress.push_back(r.value);
    EXPECT_EQ(progress, (std::vector<int>{0, 1047000, 2094000, 2097000}));
    EXPECT_EQ(boardFwcs(QStringLiteral("1:1")).at(0).received, 2097000u);

    // An exact multiple of the chunk: no rest.
    const QString exact = writeImage(singleImage(2 * 1024 * 1024), QStringLiteral("exact.img"));
    const WorkerRun exactRun = runWorker(1, exact, QStringLiteral("1:2"));
    expectOneResultLast(exactRun, 1);
    progress.clear();
    for (const ReceivedReport &r : ofKind(exactRun.reports, 1))
        progress.push_back(r.value);
    EXPECT_EQ(progress, (std::vector<int>{0, 1048576, 2097152}));

    // 100 bytes go out as one block of 512.
    const QString tiny = writeImage(singleImage(100), QStringLiteral("tiny.img"));
    const WorkerRun tinyRun = runWorker(3, tiny, QStringLiteral("1:4"));
    expectOneResultLast(tinyRun, 1);
    EXPECT_EQ(ofKind(tinyRun.reports, 1).back().value, 512);
    const std::vector<BoardFwc> fwcs = boardFwcs(QStringLiteral("1:4"));
    ASSERT_EQ(fwcs.size(), 1u);
    EXPECT_EQ(fwcs[0].received, 512u);
    EXPECT_EQ(fwcs[0].crc, zelimg::crc32Of(patternBytes(100, 9)));
}

// The environment blob is no loader stage: right behind the last one it does
// not take over its unchecked end, and between targets its results count.
TEST_F(BurnE2E, TheEnvironmentBlobIsCheckedWhereverItStands)
{
    startFarm({"--board", "1:1", "--board", "1:2", "restart_delay=100"});
    zelimg::ImageDesc envFirst = emptyImage();
    envFirst.components.push_back(component("updater.spl", "spl", 0x200000, "run", patternBytes(6000, 1)));
    envFirst.components.push_back(component("updater.uboot", "uboot", 0x600000, "run", patternBytes(9000, 2)));
    envFirst.components.push_back(zelimg::envComponent("4m(kernel),-(rootfs)"));
    envFirst.components.push_back(component("image.target.kernel", "kernel", 0, "burn", patternBytes(5000, 3)));
    const WorkerRun run = runWorker(0, writeImage(envFirst, QStringLiteral("env-first.img")), QStringLiteral("1:1"));
    expectOneResultLast(run, 1);
    EXPECT_EQ(boardFwcs(QStringLiteral("1:1")).size(), 4u);
    const QString log = workerLog(QStringLiteral("1:1"));
    EXPECT_TRUE(log.contains(QStringLiteral("Don't check the result of updater.uboot")));
    EXPECT_FALSE(log.contains(QStringLiteral("Don't check the result of image.updater.env")));

    // Third CRC query: spl, kernel, then the environment blob.
    farm("fault 1:2 crc skip=2");
    const WorkerRun faulty = runWorker(1, writeImage(loaderImage(5000, 5000)), QStringLiteral("1:2"));
    expectOneResultLast(faulty, 0);
    EXPECT_TRUE(workerLog(QStringLiteral("1:2")).contains(QStringLiteral("CRC of image.updater.env is wrong")));
}

TEST_F(BurnE2E, ABoardThatNeverComesBackIsReportedLost)
{
    startFarm({"--board", "1:5", "restart_delay=100"});
    farm("fault 1:5 no_return");
    const QString image = writeImage(loaderImage(4096, 4096));
    const WorkerRun run = runWorker(1, image, QStringLiteral("1:5"));
    EXPECT_EQ(run.exitCode, 0);
    expectOneResultLast(run, 0);
    ASSERT_GE(run.reports.size(), 3u);
    EXPECT_EQ(run.reports[run.reports.size() - 3].kind, 2);
    EXPECT_EQ(run.reports[run.reports.size() - 2].kind, 3);
    EXPECT_GE(run.elapsedMs, 10000);
    const QString log = workerLog(QStringLiteral("1:5"));
    EXPECT_TRUE(log.contains(QStringLiteral("\"1:5\" lost!")));
    EXPECT_TRUE(log.contains(QStringLiteral("Dev \"1:5\" is completely lost!")));
    EXPECT_EQ(boardFwcs(QStringLiteral("1:5")).size(), 2u);
}

TEST_F(BurnE2E, FailuresBeforeTheBurnReportOnlyAFailedResult)
{
    startFarm({"--board", "1:1", "upgrade=1"});
    const QString image = writeImage(singleImage(5000));

    const WorkerRun missing = runWorker(0, m_work.filePath(QStringLiteral("gone.img")), QStringLiteral("1:1"));
    ASSERT_EQ(missing.reports.size(), 1u);
    expectOneResultLast(missing, 0);
    EXPECT_TRUE(workerLog(QStringLiteral("1:1")).contains(QStringLiteral("Image file not exist")));

    QFile bad(m_work.filePath(QStringLiteral("bad.img")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(4096, 'x'));
    bad.close();
    const WorkerRun invalid = runWorker(0, bad.fileName(), QStringLiteral("1:1"), QStringLiteral("101"));
    ASSERT_EQ(invalid.reports.size(), 1u);
    expectOneResultLast(invalid, 0);
    EXPECT_TRUE(workerLog(QStringLiteral("1:1"), QStringLiteral("101")).contains(QStringLiteral("Image file invalid:")));

    const WorkerRun noBoard = runWorker(0, image, QStringLiteral("1:9"));
    ASSERT_EQ(noBoard.reports.size(), 1u);
    expectOneResultLast(noBoard, 0);
    EXPECT_TRUE(workerLog(QStringLiteral("1:9")).contains(QStringLiteral("Failed to open USB device \"1:9\"")));
    EXPECT_TRUE(boardFwcs(QStringLiteral("1:1")).empty());
}

TEST_F(BurnE2E, TransferAndResultQueryFailuresEndTheBurn)
{
    startFarm({"--board", "1:1", "--board", "1:2", "--board", "1:3", "upgrade=1"});
    farm("fault 1:1 stall bytes=1048576");
    farm("fault 1:2 stall cmd=0x13");
    farm("fault 1:3 stall cmd=0x14");
    const QString image = writeImage(singleImage(3 * 1024 * 1024));

    const WorkerRun stalled = runWorker(0, image, QStringLiteral("1:1"));
    expectOneResultLast(stalled, 0);
    EXPECT_TRUE(workerLog(QStringLiteral("1:1")).contains(QStringLiteral("Failed to send data")));

    const WorkerRun noCrc = runWorker(1, image, QStringLiteral("1:2"));
    expectOneResultLast(noCrc, 0);
    EXPECT_TRUE(workerLog(QStringLiteral("1:2")).contains(QStringLiteral("Failed to get the CRC!")));
    EXPECT_TRUE(workerLog(QStringLiteral("1:2")).contains(QStringLiteral("The burnning process has error!")));

    const WorkerRun noBurnResult = runWorker(2, image, QStringLiteral("1:3"));
    expectOneResultLast(noBurnResult, 0);
    EXPECT_TRUE(workerLog(QStringLiteral("1:3")).contains(QStringLiteral("Failed to get burn result!")));
}

TEST_F(BurnE2E, WithoutAListenerTheBurnStillCompletes)
{
    startFarm({"--board", "1:1", "upgrade=1"});
    setListening(false);
    const QString image = writeImage(singleImage(100000));
    const WorkerRun run = runWorker(0, image, QStringLiteral("1:1"));
    EXPECT_EQ(run.exitCode, 0);
    const std::vector<BoardFwc> fwcs = boardFwcs(QStringLiteral("1:1"));
    ASSERT_EQ(fwcs.size(), 1u);
    EXPECT_TRUE(fwcs[0].complete);
    EXPECT_TRUE(workerLog(QStringLiteral("1:1")).contains(QStringLiteral("successfully!")));
}

TEST_F(BurnE2E, ASlowListenerHoldsTheWorkerAtItsNextReportAndUntilItsResultIsHandled)
{
    // A board without trace information is burned all the same.
    startFarm({"--board", "1:1", "upgrade=1", "traceinfo="});
    // While a progress report is being handled the worker may send the next
    // chunk, but no further report: it is at most one chunk ahead of what
    // the console shows. While its result is being handled it does not end.
    // Progress goes ten times a second at most, and always at a component's end.
    struct Handling {
        ReceivedReport report;
        quint64 receivedAfter;
        bool workerAlive;
    };
    std::vector<Handling> handled;
    const auto receivedByBoard = [this] {
        quint64 sum = 0;
        for (const BoardFwc &fwc : boardFwcs(QStringLiteral("1:1")))
            sum += fwc.received;
        return sum;
    };
    setWhileHandling([&](const ReceivedReport &report) {
        QThread::msleep(300);
        handled.push_back({report, receivedByBoard(), processIsRunning(workerPid())});
    });
    constexpr quint64 kChunk = 1024 * 1024;
    const QString image = writeImage(singleImage(3 * kChunk));
    const WorkerRun run = runWorker(0, image, QStringLiteral("1:1"));
    expectOneResultLast(run, 1);
    // The start, then rising progress up to all three chunks, then the result.
    ASSERT_GE(handled.size(), 3u);
    EXPECT_EQ(handled[0].report.value, 0);
    EXPECT_EQ(quint64(handled[handled.size() - 2].report.value), 3 * kChunk);
    for (size_t i = 0; i + 1 < handled.size(); ++i) {
        EXPECT_EQ(handled[i].report.kind, ReportProgress) << "report " << i;
        if (i > 0) {
            EXPECT_GT(handled[i].report.value, handled[i - 1].report.value) << "report " << i;
        }
        EXPECT_LE(handled[i].receivedAfter, quint64(handled[i].report.value) + kChunk)
            << "report " << i;
        EXPECT_TRUE(handled[i].workerAlive) << "report " << i;
    }
    EXPECT_EQ(handled.back().report.kind, ReportResult);
    EXPECT_EQ(handled.back().receivedAfter, 3u * kChunk);
    EXPECT_TRUE(handled.back().workerAlive);
    EXPECT_TRUE(run.traces.empty());
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST_F(BurnE2E, BoardRefusedForLackOfPermissionFailsAndTheLogNamesTheUdevRule)
{
    startFarm({"--board", "1:5", "upgrade=1", "access=denied"});
    const QString image = writeImage(singleImage(4096));
    const WorkerRun run = runWorker(0, image, QStringLiteral("1:5"));
    expectOneResultLast(run, 0);
    const QString log = workerLog(QStringLiteral("1:5"));
    EXPECT_TRUE(log.contains(QStringLiteral("Board 1:5: no permission to open it: install the udev "
                                            "rule 70-veldmark.rules")))
        << log.toStdString();
}

// The console lists boards by opening and claiming each for a moment; a worker
// started just then finds its board busy and must not give up on it.
TEST_F(BurnE2E, BoardBusyForAMomentWhenTheWorkerStartsStillBurns)
{
    startFarm({"--board", "1:6", "upgrade=1"});
    QProcess holder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZEL_VBOARD_FARM"), m_socket);
    holder.setProcessEnvironment(env);
    holder.start(QStringLiteral(VBOARD_PEER_EXE), {QStringLiteral("claim"), QStringLiteral("1:6")});
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    ASSERT_EQ(holder.readLine().trimmed(), QByteArray("claim 0"));
    // The claim ends when the holder's input closes, half a second in.
    QTimer::singleShot(500, &holder, [&holder] { holder.closeWriteChannel(); });

    const WorkerRun run = runWorker(0, writeImage(singleImage(4096)), QStringLiteral("1:6"));
    expectOneResultLast(run, 1);
    holder.waitForFinished(5000);
}
