// The history under the faults a station's disk meets: each ends with every
// burn stored once, in order, after the fault is cleared.

#include "history_database.h"
#include "history_journal.h"
#include "history_recorder.h"
#include "history_test_env.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QString dbFile()
{
    const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
    return QDir(testDirectory())
        .filePath(QString::fromLatin1(test->name()) + QStringLiteral(".db"));
}

// Burn number n: a port and a start of its own, so each stored row names its burn.
HistoryRecord burn(int n)
{
    HistoryRecord record;
    record.usbPort = QStringLiteral("1:%1").arg(n);
    record.imageFile = QStringLiteral("a.img");
    record.beginTime = QDateTime(QDate(2024, 5, 6), QTime(9, 0)).addSecs(n);
    record.usedSeconds = n;
    record.result = n % 3 == 0 ? 0 : 1;
    return record;
}

// The ports of every stored row, earliest start first.
QStringList storedPorts(const HistoryDatabase &db)
{
    QStringList ports;
    db.visitHistory(QString(), [&ports](const HistoryRecord &record) {
        ports << record.usbPort;
        return true;
    });
    return ports;
}

QStringList portsOf(std::initializer_list<int> burns)
{
    QStringList ports;
    for (int n : burns)
        ports << burn(n).usbPort;
    return ports;
}

void makeTable(const QString &file)
{
    HistoryDatabase db(file);
    ASSERT_TRUE(db.isOpen());
}

class HistoryFaultTest : public ::testing::Test
{
protected:
    // Records burns first..last; each must be kept for good (database or journal).
    void recordAll(HistoryRecorder &recorder, int first, int last)
    {
        for (int n = first; n <= last; ++n) {
            HistoryRecord record = burn(n);
            EXPECT_TRUE(recorder.record(&record)) << "burn " << n;
        }
    }
};

} // namespace

TEST_F(HistoryFaultTest, DamagedFileIsMovedAsideAndANewOneTakesTheRowsKeptBefore)
{
    const QString file = dbFile();
    for (const QByteArray &damage : {QByteArray("not a database at all\n").repeated(300),
                                      QByteArray("SQLite format 3")}) {
        QFile::remove(file);
        {
            HistoryDatabase db(file);
            QList<HistoryRecord> earlier;
            for (int n = 100; n < 400; ++n)
                earlier << burn(n);
            ASSERT_TRUE(db.insertMissing(earlier));
        }
        // Garbage in place of the file, or a copy cut short by a full disk.
        QFile broken(file);
        ASSERT_TRUE(broken.open(QIODevice::ReadWrite));
        if (damage.size() > 100) {
            broken.resize(0);
            broken.write(damage);
        } else {
            broken.resize(broken.size() / 2);
        }
        broken.close();
        // Rows a previous run kept while the database refused them.
        HistoryJournal kept(file + QStringLiteral(".pending"));
        ASSERT_TRUE(kept.append(burn(1)));
        ASSERT_TRUE(kept.append(burn(2)));

        LogCapture log;
        HistoryDatabase db(file);
        ASSERT_TRUE(db.isOpen());
        ASSERT_FALSE(db.setAsidePath().isEmpty());
        EXPECT_TRUE(QFile::exists(db.setAsidePath()));
        HistoryRecorder recorder(&db);
        EXPECT_EQ(recorder.pendingCount(), 0);
        EXPECT_FALSE(QFile::exists(kept.path()));
        EXPECT_TRUE(recorder.notice().contains(db.setAsidePath())) << qPrintable(recorder.notice());
        recordAll(recorder, 3, 3);
        EXPECT_EQ(storedPorts(db), portsOf({1, 2, 3}));
        QFile::remove(db.setAsidePath());
    }
}

TEST_F(HistoryFaultTest, ReadOnlyFileKeepsRowsAsideUntilItIsWritableAgain)
{
    const QString file = dbFile();
    makeTable(file);
    const QByteArray name = QFile::encodeName(file);
    // Root writes through any mode: the file is made read-only by a mount.
    const bool asRoot = geteuid() == 0;
    if (asRoot) {
        if (mount(name.constData(), name.constData(), nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, name.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) !=
                0) {
            umount(name.constData());
            GTEST_SKIP() << "running as root without mount: no read-only file to be had";
        }
    } else {
        ASSERT_EQ(chmod(name.constData(), 0444), 0);
    }

    HistoryDatabase db(file);
    HistoryRecorder recorder(&db);
    recordAll(recorder, 1, 3);
    EXPECT_EQ(recorder.pendingCount(), 3);
    EXPECT_TRUE(recorder.notice().contains(QStringLiteral("readonly"))) << qPrintable(recorder.notice());
    EXPECT_FALSE(recorder.drain());

    // Detached: the connection still holds the read-only file open.
    if (asRoot)
        ASSERT_EQ(umount2(name.constData(), MNT_DETACH), 0);
    else
        ASSERT_EQ(chmod(name.constData(), 0644), 0);
    recordAll(recorder, 4, 4);
    EXPECT_EQ(recorder.pendingCount(), 0);
    EXPECT_TRUE(recorder.notice().isEmpty());
    EXPECT_FALSE(QFile::exists(recorder.journalPath()));
    EXPECT_EQ(storedPorts(db), portsOf({1, 2, 3, 4}));
}

TEST_F(HistoryFaultTest, LockHeldByAnotherConnectionPassesOnTheRetryTimer)
{
    const QString file = dbFile();
    HistoryDatabase db(file);
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                       QStringLiteral("backup_tool"));
        other.setDatabaseName(file);
        ASSERT_TRUE(other.open());
        QSqlQuery locker(other);
        ASSERT_TRUE(locker.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        ASSERT_TRUE(locker.exec(QStringLiteral(
            "INSERT INTO T_HISTORY(usb_port, image_file, begin_time, date_str, used_seconds, "
            "burn_result) VALUES('1:0', 'a.img', 0, '1970-01-01', 0, 1)")));

        HistoryRecorder recorder(&db);
        recordAll(recorder, 1, 3);
        EXPECT_EQ(recorder.pendingCount(), 3);
        EXPECT_TRUE(recorder.notice().contains(QStringLiteral("locked")))
            << qPrintable(recorder.notice());

        ASSERT_TRUE(other.commit());
        // No further result: the retry timer stores the kept rows.
        QElapsedTimer waited;
        waited.start();
        while (recorder.pendingCount() > 0 && waited.elapsed() < HistoryRecorder::kRetryMs * 3)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        EXPECT_EQ(recorder.pendingCount(), 0);
        EXPECT_TRUE(recorder.notice().isEmpty());
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("backup_tool"));
    QStringList expected{QStringLiteral("1:0")};
    expected << portsOf({1, 2, 3});
    EXPECT_EQ(storedPorts(db), expected);
}

TEST_F(HistoryFaultTest, FullDiskKeepsRowsInTheJournalAndInMemoryUntilThereIsRoom)
{
    const QString file = dbFile();
    HistoryDatabase db(file);
    HistoryRecorder recorder(&db);
    recordAll(recorder, 1, 1);
    int keptLater = 0;
    QObject::connect(&recorder, &HistoryRecorder::recordKeptLater,
                     [&keptLater](const HistoryRecord &) { ++keptLater; });

    // A file-size limit is a full disk to every write that would pass it.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit saved = limit;
    // Room for a few journal lines, none for SQLite's rollback journal or a page.
    limit.rlim_cur = 512;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    recordAll(recorder, 2, 3);
    const int journaled = recorder.pendingCount();
    // Now not even the journal grows: the row waits in memory, not yet counted.
    limit.rlim_cur = QFileInfo(recorder.journalPath()).size();
    setrlimit(RLIMIT_FSIZE, &limit);
    HistoryRecord inMemory = burn(4);
    const bool keptAtOnce = recorder.record(&inMemory);
    const QString notice = recorder.notice();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(journaled, 2);
    EXPECT_FALSE(keptAtOnce);
    EXPECT_TRUE(notice.contains(QStringLiteral("仅在内存中"))) << qPrintable(notice);
    EXPECT_EQ(keptLater, 0);
    EXPECT_TRUE(recorder.drain());
    EXPECT_EQ(keptLater, 1);
    EXPECT_EQ(storedPorts(db), portsOf({1, 2, 3, 4}));
}

TEST_F(HistoryFaultTest, RowsStoredBeforeACrashAreNotStoredTwiceFromTheJournal)
{
    const QString file = dbFile();
    HistoryJournal journal(file + QStringLiteral(".pending"));
    {
        HistoryDatabase db(file);
        HistoryRecord first = burn(1);
        db.insertHistory(first.usbPort, first.imageFile, first.beginTime.toSecsSinceEpoch(),
                         first.usedSeconds, first.result == 1);
    }
    // The console died after storing burn 1 and before removing its journal.
    ASSERT_TRUE(journal.append(burn(1)));
    ASSERT_TRUE(journal.append(burn(2)));
    QFile torn(journal.path());
    ASSERT_TRUE(torn.open(QIODevice::Append));
    torn.write("v1\t17149");
    torn.close();

    HistoryDatabase db(file);
    HistoryRecorder recorder(&db);
    EXPECT_EQ(recorder.pendingCount(), 0);
    EXPECT_EQ(storedPorts(db), portsOf({1, 2}));
}

// The real console started under the usual umask, in a folder where an
// earlier version left its settings readable by everyone.
TEST(PrivateFiles, ConsoleKeepsWhatItWritesToItsUserUnderUmask022)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    {
        QFile settings(dir.filePath(QStringLiteral("Veldmark.ini")));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[common]\nmax_dev_count=8\n");
    }
    ASSERT_EQ(chmod(QFile::encodeName(dir.filePath(QStringLiteral("Veldmark.ini"))).constData(),
                    0644),
              0);
    const mode_t saved = umask(022);
    QProcess console;
    console.setWorkingDirectory(dir.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    console.setProcessEnvironment(environment);
    console.setProcessChannelMode(QProcess::ForwardedChannels);
    console.start(QStringLiteral(VELDMARK), QStringList());
    umask(saved);
    ASSERT_TRUE(console.waitForStarted(10000));

    const QString day = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const QString mainLog = QStringLiteral("log/%1/main.log").arg(day);
    QElapsedTimer waited;
    waited.start();
    // The history tab creates data.db once the window is being built.
    while ((!QFile::exists(dir.filePath(QStringLiteral("data.db"))) ||
            !QFile::exists(dir.filePath(mainLog))) &&
           waited.elapsed() < 20000)
        QThread::msleep(50);
    QThread::msleep(300);
    console.kill();
    console.waitForFinished(5000);

    const struct {
        QString path;
        mode_t mode;
    } expected[] = {
        {QStringLiteral("data.db"), 0600},
        {QStringLiteral("Veldmark.ini"), 0600},
        {QStringLiteral("log"), 0700},
        {QStringLiteral("log/") + day, 0700},
        {mainLog, 0600},
    };
    for (const auto &entry : expected) {
        struct stat st;
        ASSERT_EQ(stat(QFile::encodeName(dir.filePath(entry.path)).constData(), &st), 0)
            << qPrintable(entry.path);
        EXPECT_EQ(st.st_mode & 0777, entry.mode) << qPrintable(entry.path);
    }
}
