// The burn page's decisions without a window: report bounds, counting and
// recording of results, and what a worker that never reports means.
#include "burn_counters.h"
#include "burn_session.h"
#include "history_database.h"
#include "history_test_env.h"
#include "image_builder.h"
#include "report_protocol.h"
#include "worker_launcher.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace
{

// An image whose header announces fileSize bytes of FWC data; sparse on disk.
QString writeImage(const QString &name, quint64 fileSize)
{
    zelimg::ImageDesc desc;
    desc.platform = "zk3308";
    desc.product = "core";
    desc.version = "1.0";
    desc.mediaType = "emmc";
    desc.mediaId = "mmc0";
    desc.components.push_back({"image.target.data", "data", 0, "burn",
                               std::vector<uint8_t>(1000, 0x5a), std::nullopt, "ZEL.FWC"});
    const QString path = QDir(testDirectory()).filePath(name);
    std::string error;
    EXPECT_TRUE(zelimg::writeImage(desc, path.toStdString(), &error)) << error;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadWrite));
    const quint32 size32 = static_cast<quint32>(fileSize);
    file.seek(zelimg::ImageLayout::kFileSize);
    file.write(reinterpret_cast<const char *>(&size32), 4);
    EXPECT_TRUE(file.resize(file.size() - 1000 + static_cast<qint64>(fileSize)));
    return path;
}

QByteArray payload(int slot, qint64 value)
{
    return QStringLiteral("ZEL_%1#%2_TOOL").arg(slot).arg(value).toUtf8();
}

bool waitFor(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

int historyRowsOf(const QString &port)
{
    int rows = 0;
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    for (const HistoryRecord &r : HistoryDatabase::instance()->historyOfDate(today))
        rows += r.usbPort == port;
    return rows;
}

class BurnSessionTest : public ::testing::Test
{
protected:
    void SetUp() override { SettingsStore::instance()->setPortMapping({}); }
    static BurnSession::BoardLister noBoards()
    {
        return [] { return QVector<BoardSighting>(); };
    }
    static QString opens(const QString &) { return QString(); }
};

} // namespace

TEST_F(BurnSessionTest, ProgressIsBoundedByTheImageTruncatedAndReadAs64Bit)
{
    BurnSession session(2, noBoards(), &opens);
    ASSERT_TRUE(session.loadImage(writeImage(QStringLiteral("small.img"), 1000)));
    const int total = SettingsStore::instance()->totalCount();

    session.handleReport(ReportProgress, payload(0, 0));
    EXPECT_EQ(session.slot(0).state, SlotBurning);
    session.handleReport(ReportProgress, payload(0, 999));
    EXPECT_EQ(session.slot(0).progress, 99); // truncated, not rounded
    for (qint64 dropped : {qint64(1001), qint64(-5)})
        session.handleReport(ReportProgress, payload(0, dropped));
    EXPECT_EQ(session.slot(0).progress, 99);
    session.handleReport(ReportProgress, payload(0, 1000));
    EXPECT_EQ(session.slot(0).progress, 100);

    // A file that is no image leaves the selected one whole, bounds included.
    QFile junk(QDir(testDirectory()).filePath(QStringLiteral("junk.img")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();
    QSignalSpy invalid(&session, &BurnSession::imageInvalid);
    const QString selected = session.imagePath();
    EXPECT_FALSE(session.loadImage(junk.fileName()));
    EXPECT_EQ(invalid.count(), 1);
    EXPECT_EQ(session.imagePath(), selected);
    session.handleReport(ReportProgress, payload(0, 500));
    EXPECT_EQ(session.slot(0).progress, 50);

    session.handleReport(ReportWaiting, payload(0, 0));
    EXPECT_EQ(session.slot(0).state, SlotWaitingReboot);
    session.handleReport(ReportProgress, payload(0, 0));
    EXPECT_EQ(session.slot(0).state, SlotBurning);

    // Not for an existing slot, of no known kind, or without a value: ignored.
    session.handleReport(ReportResult, payload(2, 1));
    session.handleReport(ReportResult, payload(-1, 1));
    session.handleReport(7, payload(0, 1));
    session.handleReport(ReportResult, QByteArray("ZEL_0_TOOL"));
    session.handleReport(ReportWaiting, payload(1, 0).left(5));
    EXPECT_EQ(SettingsStore::instance()->totalCount(), total);
    EXPECT_EQ(session.slot(0).state, SlotBurning);
    EXPECT_EQ(session.slot(1).state, SlotDisconnected);

    // An image above 2 GiB: the bytes sent so far do not wrap.
    const qint64 big = Q_INT64_C(3) << 30;
    ASSERT_TRUE(session.loadImage(writeImage(QStringLiteral("big.img"), quint64(big))));
    session.handleReport(ReportProgress, payload(1, big / 2));
    EXPECT_EQ(session.slot(1).progress, 50);
    session.handleReport(ReportProgress, payload(1, big));
    EXPECT_EQ(session.slot(1).progress, 100);
}

TEST_F(BurnSessionTest, EveryResultIsCountedShownAndRecordedOnce)
{
    // Boards bound while no image is chosen wait in Linked; no worker starts.
    BurnSession session(3, noBoards(), &opens);
    session.rescan({{QStringLiteral("2:1"), 4}, {QStringLiteral("2:2"), 5}});
    ASSERT_EQ(session.slot(0).state, SlotLinked);
    EXPECT_TRUE(session.isIdle()); // Linked is not busy
    QSignalSpy results(&session, &BurnSession::burnResult);
    QSignalSpy enabled(&session, &BurnSession::selectionEnabled);
    SettingsStore *store = SettingsStore::instance();
    const int total = store->totalCount(), ok = store->successCount(), bad = store->failCount();
    const auto counted = [&session] { return session.counters()->counts(); };

    session.handleReport(ReportProgress, payload(1, 0));
    session.handleReport(ReportResult, payload(0, 1));
    // Stored at once; shown, counted and announced once it is on the disk.
    EXPECT_EQ(historyRowsOf(QStringLiteral("2:1")), 1);
    EXPECT_EQ(session.slot(0).state, SlotLinked);
    EXPECT_EQ(counted().total, total);
    ASSERT_TRUE(waitFor([&] { return results.count() == 1; }));
    EXPECT_EQ(session.slot(0).state, SlotSucceeded);
    // Two results for one slot count twice.
    session.handleReport(ReportResult, payload(0, 0));
    ASSERT_TRUE(waitFor([&] { return results.count() == 2; }));
    EXPECT_EQ(session.slot(0).state, SlotFailed);
    EXPECT_EQ(historyRowsOf(QStringLiteral("2:1")), 2);

    // A result for a slot a rescan has emptied still counts, with an empty port.
    session.rescan({{QStringLiteral("2:1"), 4}});
    EXPECT_EQ(session.slot(1).state, SlotDisconnected); // its board is gone, no worker runs
    const int emptyRows = historyRowsOf(QString());
    session.handleReport(ReportResult, payload(1, 1));
    EXPECT_EQ(historyRowsOf(QString()), emptyRows + 1);
    ASSERT_TRUE(waitFor([&] { return results.count() == 3; }));
    EXPECT_EQ(session.slot(1).state, SlotSucceeded);

    EXPECT_EQ(counted().total, total + 3);
    EXPECT_EQ(counted().succeeded, ok + 2);
    EXPECT_EQ(counted().failed, bad + 1);
    EXPECT_EQ(results.count(), 3);
    // The file follows on the counters' own thread; read as bytes, since Qt
    // shares what this process's settings objects hold before it is written.
    session.counters()->flush();
    QFile file(SettingsStore::fileName());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    EXPECT_TRUE(written.contains("total_count=" + QByteArray::number(total + 3))) << written.data();
    EXPECT_TRUE(written.contains("success_count=" + QByteArray::number(ok + 2)));
    EXPECT_TRUE(written.contains("fail_count=" + QByteArray::number(bad + 1)));
    // A reset is written behind the counts still on their way, never undone by them.
    session.counters()->count(true);
    session.counters()->count(false);
    EXPECT_TRUE(session.counters()->reset());
    session.counters()->flush();
    QFile rewritten(SettingsStore::fileName());
    ASSERT_TRUE(rewritten.open(QIODevice::ReadOnly));
    const QByteArray reset = rewritten.readAll();
    for (const char *key : {"total_count=0", "success_count=0", "fail_count=0"})
        EXPECT_TRUE(reset.contains(key)) << reset.data();
    EXPECT_EQ(counted().total, 0);

    // Image selection comes back a second after the last result, once idle.
    EXPECT_TRUE(enabled.isEmpty());
    EXPECT_TRUE(waitFor([&] { return !enabled.isEmpty(); }, 3000));
    EXPECT_EQ(enabled.last().at(0).toBool(), true);
}

TEST_F(BurnSessionTest, AWorkerThatEndsWithoutAResultIsOneFailedBurn)
{
    // This test's folder has no ZelBurner: the worker cannot start.
    ASSERT_FALSE(QFile::exists(WorkerLauncher::workerProgram()));
    LogCapture log;
    SettingsStore *store = SettingsStore::instance();
    const int total = store->totalCount(), bad = store->failCount();
    {
        BurnSession session(
            2, [] { return QVector<BoardSighting>{{QStringLiteral("3:1"), 7}}; }, &opens);
        QSignalSpy results(&session, &BurnSession::burnResult);
        ASSERT_TRUE(session.loadImage(writeImage(QStringLiteral("a.b.img"), 1000)));
        session.handleDeviceChange(0x8000); // an arrival alone lists nothing
        EXPECT_EQ(session.slot(0).state, SlotDisconnected);
        session.handleDeviceChange(7);
        ASSERT_TRUE(waitFor([&] { return results.count() > 0; }));
        EXPECT_EQ(session.slot(0).state, SlotFailed);
        EXPECT_EQ(session.slot(0).imageName, QStringLiteral("a.img"));
        QCoreApplication::processEvents();
        EXPECT_EQ(results.count(), 1);
        EXPECT_EQ(session.portMapping(), (PortMapping{{QStringLiteral("3:1"), 0}}));
        // Stored already: a console that is killed keeps its bindings.
        EXPECT_EQ(store->portMapping(), session.portMapping());
        store->setPortMapping({});
    }
    EXPECT_EQ(store->totalCount(), total + 1);
    EXPECT_EQ(store->failCount(), bad + 1);
    EXPECT_EQ(historyRowsOf(QStringLiteral("3:1")), 1);
    EXPECT_TRUE(log.contains(QtCriticalMsg, QStringLiteral("Burn process error: FailedToStart")));
    EXPECT_TRUE(log.contains(QtDebugMsg, QStringLiteral("\nWinEvent: Some device changed")));
    // The port map is written back when the session ends.
    EXPECT_EQ(store->portMapping(), (PortMapping{{QStringLiteral("3:1"), 0}}));
}

TEST(WorkerArguments, TheImagePathTravelsPercentEncodedAndTheLogDayIsTheStartsDay)
{
    // Started a second before midnight: the worker opens its log after it,
    // and must still log where the row's day points.
    const qint64 start = QDateTime(QDate(2024, 5, 6), QTime(23, 59, 59)).toSecsSinceEpoch();
    EXPECT_EQ(WorkerLauncher::workerArguments(3, QStringLiteral("/tmp/a b/镜像-1_~.img"),
                                              QStringLiteral("1:2:4"), start),
              (QStringList{"-i", "3", "-f", "%2Ftmp%2Fa%20b%2F%E9%95%9C%E5%83%8F-1_~.img", "-d",
                           "1:2:4", "-t", QString::number(start), "-day", "2024-05-06"}));
}
