#include "log_files.h"
#include "logger.h"
#include "temp_cwd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {
void touch(const QString &path, const QByteArray &content = "line one\nline two\n")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}
}  // namespace

class LogFilesTest : public TempCwdTest
{
protected:
    void SetUp() override
    {
        TempCwdTest::SetUp();
        // Two days with a console log and burn logs, one day with burn logs only.
        touch(path("log/2024-05-06/main.log"));
        touch(path("log/2024-05-06/1#2/100.log"));
        touch(path("log/2024-05-07/main.log"));
        touch(path("log/2024-05-07/1#2/200.log"));
        touch(path("log/2024-05-07/1#3/201.log"));
        touch(path("log/2024-05-08/1#4/300.log"));
        touch(path("Veldmark.ini"));
    }
    bool exists(const char *relative) const { return QFileInfo::exists(path(relative)); }
};

TEST_F(LogFilesTest, ReadAndRemoveTakePathsBelowTheLogRoot)
{
    EXPECT_EQ(readLogFile("2024-05-06/1#2/100.log"), (QStringList{"line one", "line two"}));
    EXPECT_TRUE(readLogFile("2024-05-06/1#2/missing.log").isEmpty());
    removeLogFile("2024-05-06/1#2/100.log");
    EXPECT_FALSE(exists("log/2024-05-06/1#2/100.log"));
    removeLogFile("2024-05-06/1#2/100.log");
    EXPECT_TRUE(exists("log/2024-05-06/main.log"));
}

TEST_F(LogFilesTest, EmptyCutoffRemovesEveryBurnLogAndKeepsEachMainLog)
{
    purgeLogDirs(QString());
    EXPECT_TRUE(exists("log/2024-05-06/main.log"));
    EXPECT_TRUE(exists("log/2024-05-07/main.log"));
    EXPECT_FALSE(exists("log/2024-05-06/1#2"));
    EXPECT_FALSE(exists("log/2024-05-07/1#3"));
    EXPECT_FALSE(exists("log/2024-05-08"));
    // The purge stays inside the log tree.
    EXPECT_TRUE(exists("log"));
    EXPECT_TRUE(exists("Veldmark.ini"));
}

TEST_F(LogFilesTest, CutoffKeepsThatDayAndEarlier)
{
    purgeLogDirs(QStringLiteral("2024-05-06"));
    EXPECT_TRUE(exists("log/2024-05-06/1#2/100.log"));
    EXPECT_TRUE(exists("log/2024-05-07/main.log"));
    EXPECT_FALSE(exists("log/2024-05-07/1#2/200.log"));
    EXPECT_FALSE(exists("log/2024-05-08"));

    purgeLogDirs(QStringLiteral("2024-05-09"));
    EXPECT_TRUE(exists("log/2024-05-06/1#2/100.log"));
}

TEST_F(LogFilesTest, LogRootWithOnlyBurnLogsIsEmptiedButNotRemoved)
{
    QDir(path("log/2024-05-06")).removeRecursively();
    QDir(path("log/2024-05-07")).removeRecursively();
    QFile::remove(path("Veldmark.ini"));
    purgeLogDirs(QString());
    EXPECT_TRUE(exists("log"));
    EXPECT_TRUE(QDir(path("log")).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(m_dir.path()));
}

TEST_F(LogFilesTest, MissingDirectoryIsReportedAndLeftAlone)
{
    clearLogTree(path("log/2030-01-01"));
    clearLogTree(QString());
    EXPECT_TRUE(exists("log/2024-05-08/1#4/300.log"));
}

TEST_F(LogFilesTest, PurgeAndRemoveNeverFollowALink)
{
    touch(path("outside/a.log"));
    touch(path("outside/sub/b.log"));
    touch(path("outside/victim.log"));
    // A day folder, a board folder and a burn log that are links out of the tree.
    ASSERT_TRUE(QFile::link(path("outside"), path("log/2024-05-09")));
    ASSERT_TRUE(QFile::link(path("outside"), path("log/2024-05-08/1#5")));
    ASSERT_TRUE(QFile::link(path("outside/victim.log"), path("log/2024-05-08/1#4/301.log")));

    removeLogFile("2024-05-09/a.log");
    removeLogFile("2024-05-08/1#5/sub/b.log");
    purgeLogDirs(QString());
    EXPECT_TRUE(exists("outside/a.log"));
    EXPECT_TRUE(exists("outside/sub/b.log"));
    QFile victim(path("outside/victim.log"));
    ASSERT_TRUE(victim.open(QIODevice::ReadOnly));
    EXPECT_EQ(victim.readAll(), QByteArray("line one\nline two\n"));
    // The purge still did its work inside the tree.
    EXPECT_FALSE(exists("log/2024-05-08/1#4/300.log"));
    EXPECT_TRUE(exists("log/2024-05-07/main.log"));
}

TEST_F(LogFilesTest, PurgeLeavesFoldersThatAreNoDaysAndTheLogOfARunningBurn)
{
    for (const char *other : {"log/archive/2023.tar", "log/operator-notes/line3.txt",
                              "log/2024-05-07.bak/1#2/200.log", "log/2024-13-01/1#2/1.log"})
        touch(path(other));
    {
        // A worker still burning board 1:5 holds its log open.
        Logger running(QStringLiteral("1:5"), QStringLiteral("400"), QStringLiteral("2024-05-08"));
        ASSERT_TRUE(Logger::isOpen());
        purgeLogDirs(QString());
        EXPECT_TRUE(exists("log/2024-05-08/1#5/400.log"));
        EXPECT_FALSE(exists("log/2024-05-08/1#4"));
        EXPECT_FALSE(exists("log/2024-05-07/1#2"));
        for (const char *other : {"log/archive/2023.tar", "log/operator-notes/line3.txt",
                                  "log/2024-05-07.bak/1#2/200.log", "log/2024-13-01/1#2/1.log"})
            EXPECT_TRUE(exists(other)) << other;
    }
    // The burn's record finds its log after the burn (a removal that only
    // waited for the writer to let go would lose it now), and the next purge
    // takes it.
    EXPECT_TRUE(exists("log/2024-05-08/1#5/400.log"));
    purgeLogDirs(QString());
    EXPECT_FALSE(exists("log/2024-05-08"));
}
