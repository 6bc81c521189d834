#include "logger.h"
#include "temp_cwd.h"

#include <QDate>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace {
QString today()
{
    return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
}

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}
}  // namespace

class LoggerTest : public TempCwdTest
{
protected:
    void SetUp() override
    {
        TempCwdTest::SetUp();
        installLogMessageHandler();
    }
    void TearDown() override
    {
        Logger::close();
        qInstallMessageHandler(nullptr);
        TempCwdTest::TearDown();
    }
};

TEST_F(LoggerTest, WorkerFormWritesPrefixedStampedLinesUnderTheBoardDirectory)
{
    {
        Logger logger(QStringLiteral("1:3"), QStringLiteral("42"));
        ASSERT_TRUE(Logger::isOpen());
        qDebug() << "\n\nX";
        qInfo() << "info" << 7;
        qWarning() << "warn";
        qCritical() << "crit";
    }
    EXPECT_FALSE(Logger::isOpen());
    const QString file = path(QStringLiteral("log/%1/1#3/42.log").arg(today()));
    ASSERT_TRUE(QFileInfo::exists(file));
    const QStringList lines = fileLines(file);
    const QRegularExpression stamped(
        QStringLiteral("^\\[(debug|info |warn |error)\\] \\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] "));
    ASSERT_GE(lines.size(), 6);
    // Leading line feeds move in front of the prefix.
    EXPECT_EQ(lines[0], QString());
    EXPECT_EQ(lines[1], QString());
    EXPECT_TRUE(stamped.match(lines[2]).hasMatch());
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("[debug] [")));
    EXPECT_TRUE(lines[2].endsWith(QStringLiteral("] X")));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("[info ] ")) && lines[3].endsWith(QStringLiteral("] info 7")));
    EXPECT_TRUE(lines[4].startsWith(QStringLiteral("[warn ] ")) && lines[4].endsWith(QStringLiteral("] warn")));
    EXPECT_TRUE(lines[5].startsWith(QStringLiteral("[error] ")) && lines[5].endsWith(QStringLiteral("] crit")));
}

TEST_F(LoggerTest, MissingLogNameGivesDotLogAndTwoWorkersAppend)
{
    {
        Logger first(QStringLiteral("2:1:1"), QString());
        qInfo().noquote() << "first";
    }
    {
        Logger second(QStringLiteral("2:1:1"), QString());
        qInfo().noquote() << "second";
    }
    const QStringList lines = fileLines(path(QStringLiteral("log/%1/2#1#1/.log").arg(today())));
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("first")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("second")));
}

TEST_F(LoggerTest, ConsoleFormOpensMainLogOfTheDay)
{
    Logger logger(QStringLiteral("main"));
    qWarning().noquote() << "设备 ok";
    Logger::close();
    const QStringList lines = fileLines(path(QStringLiteral("log/%1/main.log").arg(today())));
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("设备 ok")));
}

TEST_F(LoggerTest, AfterCloseAndWithoutALogMessagesAreDropped)
{
    qWarning() << "nothing open";
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("log"))));
    {
        Logger logger(QStringLiteral("main"));
    }
    qWarning() << "after close";
    const QString file = path(QStringLiteral("log/%1/main.log").arg(today()));
    EXPECT_EQ(QFileInfo(file).size(), 0);
}

TEST_F(LoggerTest, UnwritableLogRootLeavesTheProgramRunningWithoutLog)
{
    QFile blocker(path(QStringLiteral("log")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.write("a file where the log directory should be");
    blocker.close();
    Logger logger(QStringLiteral("1:2"), QStringLiteral("7"));
    EXPECT_FALSE(Logger::isOpen());
    qCritical() << "still running";
    EXPECT_EQ(QFileInfo(path(QStringLiteral("log"))).size(), 40);
}

TEST_F(LoggerTest, NeverWritesThroughAPlantedLink)
{
    // A link where the burn's log file belongs, one where a board folder
    // belongs, and the day folder itself as a link: none is followed.
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("outside"))));
    const QString victim = path(QStringLiteral("outside/victim.txt"));
    QFile seed(victim);
    ASSERT_TRUE(seed.open(QIODevice::WriteOnly));
    seed.write("keep\n");
    seed.close();
    const QString day = path(QStringLiteral("log/") + today());
    ASSERT_TRUE(QDir().mkpath(day + QStringLiteral("/1#3")));
    ASSERT_TRUE(QFile::link(victim, day + QStringLiteral("/1#3/42.log")));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("outside")), day + QStringLiteral("/1#4")));
    for (const auto &board : {QStringLiteral("1:3"), QStringLiteral("1:4")}) {
        Logger logger(board, QStringLiteral("42"));
        EXPECT_FALSE(Logger::isOpen()) << board.toStdString();
        qCritical() << "must not reach the outside folder";
    }
    QDir(path(QStringLiteral("log"))).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("log"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("outside")), day));
    {
        Logger logger(QStringLiteral("main"));
        EXPECT_FALSE(Logger::isOpen());
        qCritical() << "must not reach the outside folder";
    }
    EXPECT_EQ(
        QDir(path(QStringLiteral("outside"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
        QStringList{QStringLiteral("victim.txt")});
    EXPECT_EQ(fileLines(victim), (QStringList{QStringLiteral("keep"), QString()}));
}

namespace {
// Points standard output at fd for the life of the object.
class StdoutTo
{
public:
    explicit StdoutTo(int fd) : m_saved(::dup(STDOUT_FILENO))
    {
        std::fflush(stdout);
        ::dup2(fd, STDOUT_FILENO);
    }
    ~StdoutTo()
    {
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
    }

private:
    int m_saved;
};

QByteArray readAvailable(int fd)
{
    QByteArray bytes;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<int>(n));
    return bytes;
}
}  // namespace

// A console started from the menu has the session journal as its standard
// output: lines go there only when it is a terminal or --verbose asks for it.
// The log file gets every line in each case.
TEST_F(LoggerTest, EchoesToStandardOutputOnlyOnATerminalOrWhenAlwaysEchoIsSet)
{
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_NONBLOCK), 0);
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    ::fcntl(master, F_SETFL, O_NONBLOCK);

    QByteArray piped, onTerminal, forced;
    {
        StdoutTo out(pipeEnds[1]);
        {
            Logger logger(QStringLiteral("quiet"));
            qInfo().noquote() << "to the journal";
        }
        piped = readAvailable(pipeEnds[0]);
        {
            StdoutTo terminal(slave);
            Logger logger(QStringLiteral("terminal"));
            qInfo().noquote() << "to the terminal";
        }
        onTerminal = readAvailable(master);
        Logger::setAlwaysEcho(true);
        {
            Logger logger(QStringLiteral("verbose"));
            qWarning().noquote() << "asked for";
        }
        Logger::setAlwaysEcho(false);
        forced = readAvailable(pipeEnds[0]);
    }
    for (int fd : {pipeEnds[0], pipeEnds[1], master, slave})
        ::close(fd);

    EXPECT_EQ(piped, QByteArray());
    EXPECT_TRUE(onTerminal.contains("[info ] to the terminal")) << onTerminal.toStdString();
    EXPECT_EQ(forced, QByteArray("[warn ] asked for\n"));
    for (const char *name : {"quiet", "terminal", "verbose"}) {
        const QStringList lines =
            fileLines(path(QStringLiteral("log/%1/%2.log").arg(today(), QLatin1String(name))));
        EXPECT_EQ(lines.size(), 2) << name; // the line and the empty rest after its line feed
    }
}

TEST(LogLevelPrefix, EveryLevelHasAnEightCharacterPrefix)
{
    EXPECT_STREQ(logLevelPrefix(QtDebugMsg), "[debug] ");
    EXPECT_STREQ(logLevelPrefix(QtInfoMsg), "[info ] ");
    EXPECT_STREQ(logLevelPrefix(QtWarningMsg), "[warn ] ");
    EXPECT_STREQ(logLevelPrefix(QtCriticalMsg), "[error] ");
    EXPECT_STREQ(logLevelPrefix(QtFatalMsg), "[fatal] ");
}
