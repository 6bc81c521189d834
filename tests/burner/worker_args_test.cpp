#include "worker_args.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
WorkerArgs parse(std::vector<const char *> args)
{
    args.insert(args.begin(), "ZelBurner");
    return parseWorkerArgs(static_cast<int>(args.size()), args.data());
}
}  // namespace

TEST(WorkerArgs, TheConsoleCommandLineDecodes)
{
    const WorkerArgs a = parse({"-i", "2", "-f", "C%3A%2Fimg%2Fa.img", "-d", "1:3", "-t", "42"});
    EXPECT_EQ(a.slotIndex, 2);
    EXPECT_EQ(a.imagePath, QStringLiteral("C:/img/a.img"));
    EXPECT_EQ(a.usbPosition, QStringLiteral("1:3"));
    EXPECT_EQ(a.logName, QStringLiteral("42"));
    EXPECT_TRUE(a.usable());

    const WorkerArgs chinese =
        parse({"-i", "0", "-f", "%2Fdata%2F%E5%9B%BA%E4%BB%B6.img", "-d", "1:2"});
    EXPECT_EQ(chinese.imagePath, QStringLiteral("/data/固件.img"));
}

TEST(WorkerArgs, ScanMovesOneStepAndLaterOccurrencesWin)
{
    EXPECT_EQ(parse({"-i", "x", "-f", "a", "-d", "1"}).slotIndex, 0);
    EXPECT_EQ(parse({"-i", "3", "-i", "5"}).slotIndex, 5);
    // "-i -d" takes "-d" as the value (not a number: 0), then "-d 7" is still seen.
    const WorkerArgs stepped = parse({"-i", "-d", "7"});
    EXPECT_EQ(stepped.slotIndex, 0);
    EXPECT_EQ(stepped.usbPosition, QStringLiteral("7"));
    // An option as the very last argument has no value.
    EXPECT_TRUE(parse({"-f", "a", "-d"}).usbPosition.isEmpty());
    EXPECT_EQ(parse({"-I", "4"}).slotIndex, -1);
}

TEST(WorkerArgs, MissingOrNegativeOptionsAreNotUsable)
{
    EXPECT_FALSE(parse({}).usable());
    EXPECT_FALSE(parse({"-i", "-1", "-f", "a", "-d", "1:2"}).usable());
    EXPECT_FALSE(parse({"-i", "0", "-f", "", "-d", "1:2"}).usable());
    EXPECT_FALSE(parse({"-i", "0", "-f", "a"}).usable());
    EXPECT_TRUE(parse({"-i", "0", "-f", "a", "-d", "1:2"}).logName.isEmpty());
}

TEST(WorkerArgs, OddBytesAreKeptByteForByte)
{
    const WorkerArgs a = parse({"-i", "1", "-f", "%ZZ%e5", "-d", "1:\xff", "-t", "\x01"});
    EXPECT_EQ(a.usbPosition, QString::fromLatin1("1:\xff"));
    EXPECT_EQ(a.logName, QString::fromLatin1("\x01"));
    EXPECT_FALSE(a.imagePath.isEmpty());
}

TEST(WorkerArgs, OnlyAPositionOrSerialPortAStartTimeAndAWholePathPass)
{
    EXPECT_TRUE(workerArgsProblem(parse({"-i", "2", "-f", "a.img", "-d", "1:3", "-t", "42"})).isEmpty());
    EXPECT_TRUE(workerArgsProblem(parse({"-i", "2", "-f", "a.img", "-d", "3"})).isEmpty());
    EXPECT_TRUE(workerArgsProblem(parse({"-i", "2", "-f", "a.img", "-d", "1:2", "-t", "18446744073709551615"})).isEmpty());

    // A serial port names the board too; it also names a log folder, so a
    // path that climbs out of it or holds blanks is refused.
    for (const char *port : {"/dev/ttyUSB0", "/dev/serial/by-id/usb-board_01-if00", "COM3"})
        EXPECT_TRUE(workerArgsProblem(parse({"-i", "2", "-f", "a.img", "-d", port})).isEmpty()) << port;
    for (const char *port : {"/dev/../home/x", "/dev/./tty", "/dev/tty S0", "/", "COMx"})
        EXPECT_TRUE(workerArgsProblem(parse({"-i", "2", "-f", "a.img", "-d", port})).startsWith("-d "))
            << port;

    EXPECT_TRUE(workerArgsProblem(parse({"-i", "2", "-f", "a.img", "-d", "1:2:0"})).startsWith("-d \"1:2:0\""));
    EXPECT_TRUE(workerArgsProblem(parse({"-i", "2", "-f", "a.img", "-d", "1:2", "-t", "18446744073709551616"}))
                    .startsWith("-t "));
    EXPECT_TRUE(workerArgsProblem(parse({"-i", "2", "-f", "a.img", "-d", "1:2", "-t", "-5"})).startsWith("-t "));
    const WorkerArgs nul = parse({"-i", "2", "-f", "a.img%00b", "-d", "1:2"});
    EXPECT_EQ(nul.imagePath.size(), 7);
    EXPECT_EQ(workerArgsProblem(nul), QStringLiteral("-f \"a.img\\x00b\" holds a NUL byte"));
    // Control bytes are shown, not written raw to the terminal.
    EXPECT_EQ(workerArgsProblem(parse({"-i", "2", "-f", "a", "-d", "1:2", "-t", "\x1b[2J"})),
              QStringLiteral("-t \"\\x1b[2J\" is not a start time (decimal seconds)"));
}
