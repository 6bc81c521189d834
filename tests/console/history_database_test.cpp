#include "history_database.h"
#include "history_syncer.h"
#include "history_test_env.h"
#include "settings_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <QSqlQuery>
#include <QVariant>

#include <gtest/gtest.h>

#include <atomic>

namespace
{

qint64 localSeconds(int year, int month, int day, int hour = 12, int minute = 0, int second = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second)).toSecsSinceEpoch();
}

// One scalar from the default connection, for looking past the class at the stored columns.
QVariant scalar(const QString &sql)
{
    QSqlQuery query;
    if (!query.exec(sql) || !query.next())
        return QVariant();
    return query.value(0);
}

QString dbFile()
{
    const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
    return QDir(testDirectory())
        .filePath(QString::fromLatin1(test->name()) + QStringLiteral(".db"));
}

class HistoryDatabaseTest : public ::testing::Test
{
protected:
    void SetUp() override { SettingsStore::instance()->setDbCreated(false); }
};

} // namespace

TEST_F(HistoryDatabaseTest, FirstOpenCreatesTheTableAndSetsTheFlag)
{
    LogCapture log;
    HistoryDatabase db(dbFile());
    ASSERT_TRUE(db.isOpen());
    EXPECT_TRUE(log.contains(QtDebugMsg, QStringLiteral("Create table success")));
    EXPECT_TRUE(SettingsStore::instance()->dbCreated());
    // SQLite keeps the statement text as given.
    const QString sql =
        scalar(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'T_HISTORY'")).toString();
    EXPECT_EQ(sql.size(), 491);
    EXPECT_TRUE(sql.startsWith(QStringLiteral("CREATE TABLE T_HISTORY(    ")));
}

TEST_F(HistoryDatabaseTest, MissingTableIsCreatedAgainWhileTheFlagSaysCreated)
{
    SettingsStore::instance()->setDbCreated(true);
    LogCapture log;
    HistoryDatabase db(dbFile());
    EXPECT_TRUE(log.contains(QtDebugMsg, QStringLiteral("Create table success")));
    db.insertHistory(QStringLiteral("1:2"), QStringLiteral("a.img"), localSeconds(2024, 5, 1), 3,
                     true);
    EXPECT_EQ(db.historyOfDate(QStringLiteral("2024-05-01")).size(), 1);
}

TEST_F(HistoryDatabaseTest, KeptTableWithoutTheFlagStillWorks)
{
    {
        HistoryDatabase first(dbFile());
    }
    SettingsStore::instance()->setDbCreated(false);
    LogCapture log;
    HistoryDatabase db(dbFile());
    EXPECT_TRUE(log.contains(QtCriticalMsg, QStringLiteral("Create table failed!")));
    EXPECT_FALSE(SettingsStore::instance()->dbCreated());
    db.insertHistory(QStringLiteral("1:2"), QStringLiteral("a.img"), localSeconds(2024, 5, 1), 3,
                     true);
    EXPECT_EQ(db.historyOfDate(QStringLiteral("2024-05-01")).size(), 1);
}

TEST_F(HistoryDatabaseTest, InsertedRowsComeBackById)
{
    HistoryDatabase db(dbFile());
    const qint64 begin = localSeconds(2024, 5, 6, 7, 8, 9);
    // Quotes in a text value must be stored, not break the statement.
    db.insertHistory(QStringLiteral("1:2:4"), QStringLiteral("a'b.img"), begin, 75, true);
    db.insertHistory(QStringLiteral("x'); DROP TABLE T_HISTORY; --"), QStringLiteral("c.img"),
                     begin, 5, false);

    const int first = scalar(QStringLiteral("SELECT MIN(id) FROM T_HISTORY")).toInt();
    const HistoryRecord success = db.historyById(first);
    EXPECT_EQ(success.id, first);
    EXPECT_EQ(success.usbPort, QStringLiteral("1:2:4"));
    EXPECT_EQ(success.imageFile, QStringLiteral("a'b.img"));
    EXPECT_EQ(success.beginTime, QDateTime::fromSecsSinceEpoch(begin));
    EXPECT_EQ(success.usedSeconds, 75);
    EXPECT_EQ(success.result, 1);

    const HistoryRecord failure = db.historyById(first + 1);
    EXPECT_EQ(failure.usbPort, QStringLiteral("x'); DROP TABLE T_HISTORY; --"));
    EXPECT_EQ(failure.result, 0);
    EXPECT_EQ(scalar(QStringLiteral("SELECT date_str FROM T_HISTORY WHERE id = %1").arg(first))
                  .toString(),
              QStringLiteral("2024-05-06"));

    const HistoryRecord missing = db.historyById(first + 100);
    EXPECT_EQ(missing.id, -1);
    EXPECT_TRUE(missing.usbPort.isEmpty());
    EXPECT_FALSE(missing.beginTime.isValid());
}

TEST_F(HistoryDatabaseTest, OneDayComesBackNewestFirst)
{
    HistoryDatabase db(dbFile());
    db.insertHistory(QStringLiteral("1:1"), QStringLiteral("early.img"),
                     localSeconds(2024, 5, 6, 8), 1, true);
    db.insertHistory(QStringLiteral("1:2"), QStringLiteral("late.img"),
                     localSeconds(2024, 5, 6, 17), 1, true);
    db.insertHistory(QStringLiteral("1:3"), QStringLiteral("other.img"),
                     localSeconds(2024, 5, 7, 9), 1, true);

    const QList<HistoryRecord> day = db.historyOfDate(QStringLiteral("2024-05-06"));
    ASSERT_EQ(day.size(), 2);
    EXPECT_EQ(day[0].imageFile, QStringLiteral("late.img"));
    EXPECT_EQ(day[1].imageFile, QStringLiteral("early.img"));
    EXPECT_TRUE(db.historyOfDate(QStringLiteral("2024-05-08")).isEmpty());
    EXPECT_TRUE(db.historyOfDate(QString()).isEmpty());
}

TEST_F(HistoryDatabaseTest, DatesComeBackOnceEachInAscendingOrder)
{
    HistoryDatabase db(dbFile());
    for (int day : {3, 1, 2, 3, 1})
        db.insertHistory(QStringLiteral("1:1"), QStringLiteral("a.img"), localSeconds(2024, 5, day),
                         1, true);
    const QList<QDate> expected{QDate(2024, 5, 1), QDate(2024, 5, 2), QDate(2024, 5, 3)};
    EXPECT_EQ(db.historyDates(), expected);
}

TEST_F(HistoryDatabaseTest, DeleteByIdCountsTheRowsItRemoved)
{
    HistoryDatabase db(dbFile());
    db.insertHistory(QStringLiteral("1:1"), QStringLiteral("a.img"), localSeconds(2024, 5, 1), 1,
                     true);
    const int id = scalar(QStringLiteral("SELECT MAX(id) FROM T_HISTORY")).toInt();

    LogCapture log;
    EXPECT_EQ(db.deleteHistory(id), 1);
    EXPECT_TRUE(log.contains(QtDebugMsg, QStringLiteral("Delete history: %1").arg(id)));
    EXPECT_EQ(db.historyById(id).id, -1);
    EXPECT_EQ(db.deleteHistory(id), 0);

    // Ids are never reused.
    db.insertHistory(QStringLiteral("1:1"), QStringLiteral("b.img"), localSeconds(2024, 5, 1), 1,
                     true);
    EXPECT_GT(scalar(QStringLiteral("SELECT MAX(id) FROM T_HISTORY")).toInt(), id);
}

TEST_F(HistoryDatabaseTest, DeleteAfterKeepsTheCutoffDayAndEarlier)
{
    HistoryDatabase db(dbFile());
    for (int day : {29, 30})
        db.insertHistory(QStringLiteral("1:1"), QStringLiteral("a.img"), localSeconds(2024, 4, day),
                         1, true);
    for (int day : {1, 2, 3})
        db.insertHistory(QStringLiteral("1:1"), QStringLiteral("a.img"), localSeconds(2024, 5, day),
                         1, true);

    EXPECT_EQ(db.deleteHistoryAfter(QStringLiteral("2024-05-01")), 2);
    const QList<QDate> kept{QDate(2024, 4, 29), QDate(2024, 4, 30), QDate(2024, 5, 1)};
    EXPECT_EQ(db.historyDates(), kept);

    // An empty cutoff removes the whole history.
    EXPECT_EQ(db.deleteHistoryAfter(QString()), 3);
    EXPECT_TRUE(db.historyDates().isEmpty());
}

TEST_F(HistoryDatabaseTest, BurnAcrossMidnightBelongsToItsStartDay)
{
    HistoryDatabase db(dbFile());
    const QDateTime start(QDate(2024, 5, 6), QTime(23, 59, 50));
    db.addHistory(QStringLiteral("1:2"), QStringLiteral("a.img"), start, start.addSecs(20), false);

    const QList<HistoryRecord> day = db.historyOfDate(QStringLiteral("2024-05-06"));
    ASSERT_EQ(day.size(), 1);
    EXPECT_EQ(day[0].usedSeconds, 20);
    EXPECT_EQ(day[0].beginTime, start);
    EXPECT_EQ(day[0].result, 0);
    EXPECT_TRUE(db.historyOfDate(QStringLiteral("2024-05-07")).isEmpty());
}

TEST_F(HistoryDatabaseTest, ResetSlotIsRecordedWithEmptyTexts)
{
    HistoryDatabase db(dbFile());
    const QDateTime start(QDate(2024, 5, 6), QTime(10, 0));
    db.addHistory(QString(), QString(), start, start.addSecs(4), true);
    // Empty, not NULL: the row shows as an empty port like every other text column.
    EXPECT_EQ(scalar(QStringLiteral(
                         "SELECT COUNT(*) FROM T_HISTORY WHERE usb_port = '' AND image_file = ''"))
                  .toInt(),
              1);

    // A slot that never started counts from its end.
    db.addHistory(QStringLiteral("1:3"), QStringLiteral("b.img"), QDateTime(), start.addSecs(60),
                  true);
    const QList<HistoryRecord> day = db.historyOfDate(QStringLiteral("2024-05-06"));
    ASSERT_EQ(day.size(), 2);
    EXPECT_EQ(day[0].usbPort, QStringLiteral("1:3"));
    EXPECT_EQ(day[0].beginTime, start.addSecs(60));
    EXPECT_EQ(day[0].usedSeconds, 0);
}

TEST_F(HistoryDatabaseTest, UnopenableFileFailsEveryStatement)
{
    LogCapture log;
    HistoryDatabase db(QDir(testDirectory()).filePath(QStringLiteral("no/such/folder/data.db")));
    EXPECT_FALSE(db.isOpen());
    EXPECT_TRUE(log.contains(QtCriticalMsg, QStringLiteral("Failed to open SQLite!")));

    db.insertHistory(QStringLiteral("1:1"), QStringLiteral("a.img"), localSeconds(2024, 5, 1), 1,
                     true);
    EXPECT_TRUE(log.contains(QtCriticalMsg, QStringLiteral("Insert data failed")));
    EXPECT_EQ(db.deleteHistory(1), -1);
    EXPECT_EQ(db.deleteHistoryAfter(QStringLiteral("2024-05-01")), -1);
    EXPECT_TRUE(log.contains(QtCriticalMsg, QStringLiteral("Delete history failed:")));
    EXPECT_EQ(db.historyById(1).id, -1);
    EXPECT_TRUE(db.historyOfDate(QStringLiteral("2024-05-01")).isEmpty());
    EXPECT_TRUE(db.historyDates().isEmpty());
}

TEST_F(HistoryDatabaseTest, RunsWithAWriteAheadLogEvenOnAFileWithARollbackJournal)
{
    const QString file = dbFile();
    {
        QSqlDatabase old =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
        old.setDatabaseName(file);
        ASSERT_TRUE(old.open());
        QSqlQuery query(old);
        ASSERT_TRUE(query.exec(QStringLiteral("PRAGMA journal_mode=DELETE")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));

    HistoryDatabase db(file);
    EXPECT_EQ(scalar(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
    EXPECT_EQ(scalar(QStringLiteral("PRAGMA synchronous")).toInt(), 1); // NORMAL
}

static void waitUntil(const std::function<bool()> &done)
{
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < 5000) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
}

// What waits for the disk runs only after a sync that began after it was
// asked for, in order, and a burst shares its syncs.
TEST(HistorySyncerTest, WaitersRunOnlyOnceASyncStartedAfterThemHasEnded)
{
    QSemaphore started;
    QSemaphore release;
    std::atomic<int> syncs{0};
    std::atomic<bool> fail{false};
    HistorySyncer syncer([&] {
        started.release();
        release.acquire();
        ++syncs;
        return !fail.load();
    });
    QStringList ran;
    syncer.whenOnDisk([&ran] { ran << QStringLiteral("a"); });
    ASSERT_TRUE(started.tryAcquire(1, 5000));
    // Asked for while the first sync runs: that sync does not cover them.
    syncer.whenOnDisk([&ran] { ran << QStringLiteral("b"); });
    syncer.whenOnDisk([&ran] { ran << QStringLiteral("c"); });
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran.isEmpty());

    release.release();
    ASSERT_TRUE(started.tryAcquire(1, 5000));
    waitUntil([&ran] { return !ran.isEmpty(); });
    EXPECT_EQ(ran, QStringList{QStringLiteral("a")});
    release.release();
    waitUntil([&ran] { return ran.size() >= 3; });
    EXPECT_EQ(ran, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    EXPECT_EQ(syncs.load(), 2);
    EXPECT_EQ(syncer.waitingCount(), 0);

    // A failed sync is logged, and what waits still runs: its rows are committed.
    LogCapture log;
    fail = true;
    syncer.whenOnDisk([&ran] { ran << QStringLiteral("d"); });
    release.release();
    waitUntil([&ran] { return ran.size() >= 4; });
    EXPECT_EQ(ran.size(), 4);
    EXPECT_TRUE(log.contains(QtCriticalMsg, QStringLiteral("Burn records are committed")));
}
