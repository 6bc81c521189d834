#include "history_database.h"
#include "history_test_env.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <gtest/gtest.h>

#include <signal.h>

namespace
{

struct Check {
    QString integrity;
    int rows = 0;
    int damagedRows = 0;
};

// Every row the writer stored carries its own number in all its columns.
Check checkFile(const QString &file)
{
    Check check;
    HistoryDatabase db(file);
    QSqlQuery query;
    if (query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next())
        check.integrity = query.value(0).toString();
    query.exec(QStringLiteral(
        "SELECT usb_port, image_file, begin_time, used_seconds, burn_result FROM T_HISTORY"));
    while (query.next()) {
        ++check.rows;
        const qint64 n = query.value(2).toLongLong() - 1714989600;
        const bool whole = query.value(0).toString() == QStringLiteral("1:%1").arg(n % 16) &&
                           query.value(1).toString() == QStringLiteral("image-%1.img").arg(n) &&
                           query.value(3).toLongLong() == n % 600 &&
                           query.value(4).toInt() == (n % 2 == 0);
        if (!whole)
            ++check.damagedRows;
    }
    return check;
}

} // namespace

TEST(HistoryCrashTest, HistorySurvivesTheWriterBeingKilledMidWrite)
{
    const QString file = QDir(testDirectory()).filePath(QStringLiteral("killed.db"));
    int previousRows = 0;
    for (int round = 0; round < 3; ++round) {
        QProcess writer;
        writer.setWorkingDirectory(testDirectory());
        writer.start(QStringLiteral(HISTORY_WRITER), {file});
        ASSERT_TRUE(writer.waitForStarted());
        ASSERT_TRUE(writer.waitForReadyRead(10000));
        ASSERT_EQ(writer.readLine().trimmed(), QByteArray("ready"));
        QThread::msleep(150 + 100 * round);
        ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
        ASSERT_TRUE(writer.waitForFinished(10000));
        ASSERT_EQ(writer.exitStatus(), QProcess::CrashExit);

        const Check check = checkFile(file);
        EXPECT_EQ(check.integrity, QStringLiteral("ok")) << "round " << round;
        EXPECT_EQ(check.damagedRows, 0) << "round " << round;
        EXPECT_GT(check.rows, previousRows) << "round " << round;
        previousRows = check.rows;
    }
}

TEST(HistoryCrashTest, WriterTakesNoOptionForADatabasePath)
{
    struct Case {
        const char *argument;
        int status;
    } cases[] = {{"--help", 0}, {"-h", 0}, {"--frobnicate", 2}};
    for (const Case &c : cases) {
        QProcess writer;
        writer.setWorkingDirectory(testDirectory());
        writer.setProcessChannelMode(QProcess::MergedChannels);
        writer.start(QStringLiteral(HISTORY_WRITER), {QString::fromLatin1(c.argument)});
        ASSERT_TRUE(writer.waitForStarted());
        const bool finished = writer.waitForFinished(10000);
        if (!finished)
            writer.kill();
        ASSERT_TRUE(finished) << c.argument << " was taken as a database path";
        EXPECT_EQ(writer.exitCode(), c.status) << c.argument;
        EXPECT_TRUE(writer.readAll().contains("usage: history_writer")) << c.argument;
        EXPECT_FALSE(
            QFileInfo::exists(QDir(testDirectory()).filePath(QString::fromLatin1(c.argument))))
            << c.argument;
    }
}
