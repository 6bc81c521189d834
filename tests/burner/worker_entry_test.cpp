// Runs the real ZelBurner executable and checks what it leaves behind.
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
struct WorkerRun {
    int exitCode = -1;
    QByteArray output;
};

WorkerRun runWorker(const QString &cwd, const QStringList &args)
{
    QProcess process;
    process.setWorkingDirectory(cwd);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(ZELBURNER), args);
    WorkerRun run;
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.output = process.readAll();
    return run;
}

QString dayDir(const QTemporaryDir &dir)
{
    return dir.filePath(QStringLiteral("log/") + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
}
}  // namespace

TEST(WorkerEntry, MissingOptionsExitAtOnceWithoutALog)
{
    const QList<QStringList> incomplete = {
        {},
        {"-i", "-1", "-f", "a.img", "-d", "1:3", "-t", "42"},
        {"-f", "a.img", "-d", "1:3", "-t", "42"},
        {"-i", "0", "-d", "1:3", "-t", "42"},
        {"-i", "0", "-f", "a.img", "-t", "42"},
        {"-i", "0", "-f", "a.img", "-t", "42", "-d"},
    };
    for (const QStringList &args : incomplete) {
        QTemporaryDir dir;
        const WorkerRun run = runWorker(dir.path(), args);
        EXPECT_EQ(run.exitCode, 0) << args.join(' ').toStdString();
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("log"))) << args.join(' ').toStdString();
    }
}

TEST(WorkerEntry, ValidOptionsCreateTheBurnLogUnderTheBoardDirectory)
{
    QTemporaryDir dir;
    const WorkerRun run = runWorker(dir.path(), {"-i", "2", "-f", "C%3A%2Fimg%2Fa.img", "-d", "1:3", "-t", "42"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(QFileInfo::exists(dayDir(dir) + QStringLiteral("/1#3/42.log")));

    const WorkerRun noName = runWorker(dir.path(), {"-i", "x", "-f", "a.img", "-d", "1:4:2"});
    EXPECT_EQ(noName.exitCode, 0);
    EXPECT_TRUE(QFileInfo::exists(dayDir(dir) + QStringLiteral("/1#4#2/.log")));
}

TEST(WorkerEntry, LogGoesInTheDayFolderOfTheStartGivenOnTheCommandLine)
{
    QTemporaryDir dir;
    // A burn the console started at 23:59:59 on 2024-05-06, whose worker runs after midnight.
    const WorkerRun run = runWorker(
        dir.path(), {"-i", "0", "-f", "a.img", "-d", "1:3", "-t", "1715032799", "-day", "2024-05-06"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("log/2024-05-06/1#3/1715032799.log")));

    // The day names a folder: nothing but a real yyyy-MM-dd day passes.
    for (const char *day : {"../../x", "2024-02-30", "2024-5-6", "2024-05-06/.."}) {
        QTemporaryDir other;
        const WorkerRun refused =
            runWorker(other.path(), {"-i", "0", "-f", "a.img", "-d", "1:3", "-t", "1", "-day", day});
        EXPECT_EQ(refused.exitCode, 0) << day;
        EXPECT_FALSE(QFileInfo::exists(other.filePath("log"))) << day;
        EXPECT_TRUE(refused.output.contains("is not a day")) << day;
    }
}

TEST(WorkerEntry, LogRootThatIsAFileLeavesTheWorkerRunning)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath("log"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const WorkerRun run = runWorker(dir.path(), {"-i", "0", "-f", "a.img", "-d", "1:3", "-t", "1"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.output.contains("Failed to create log path!"));
    EXPECT_TRUE(QFileInfo(dir.filePath("log")).isFile());
}
