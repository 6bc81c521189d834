// A whole burn over a serial line: the worker program named with the serial
// port (-d /dev/pts/N) against the virtual serial board on a pseudo-terminal
// at the line's own pace, the loader stage's restart and the reconnect
// included.

#include "image_builder.h"
#include "vboard_serial.h"

#include <QDate>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <chrono>

namespace {

TEST(SerialBurn, TheWorkerBurnsOverThePseudoTerminalItIsNamed)
{
    vboard::SerialConfig config;
    config.board.keepData = true;
    config.board.restartDelayMs = 200;
    vboard::SerialBoard board(config);
    ASSERT_TRUE(board.ok()) << board.error();

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const zelimg::ImageDesc desc = zelimg::sampleImage(5000);
    const QString image = dir.filePath(QStringLiteral("serial.img"));
    ASSERT_TRUE(zelimg::writeImage(desc, image.toStdString()));

    const QString port = QString::fromStdString(board.path());
    QProcess worker;
    worker.setWorkingDirectory(dir.path());
    worker.setProcessChannelMode(QProcess::MergedChannels);
    const auto start = std::chrono::steady_clock::now();
    worker.start(QStringLiteral(ZELBURNER),
                 {"-i", "0", "-f", QString::fromLatin1(QUrl::toPercentEncoding(image)), "-d", port,
                  "-t", "42"});
    ASSERT_TRUE(worker.waitForFinished(60000)) << worker.readAll().toStdString();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(worker.exitCode(), 0);

    // The port's path names one log folder, not a tree of them.
    QString folder = port;
    folder.replace(QLatin1Char('/'), QLatin1Char('#'));
    QFile logFile(dir.filePath(QStringLiteral("log/%1/%2/42.log")
                                   .arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")),
                                        folder)));
    ASSERT_TRUE(logFile.open(QIODevice::ReadOnly)) << logFile.fileName().toStdString();
    const QString log = QString::fromUtf8(logFile.readAll());
    EXPECT_TRUE(log.contains(QStringLiteral("successfully!"))) << log.toStdString();
    EXPECT_EQ(log.count(QStringLiteral("Wait to reconnect dev")), 1);

    // Every component arrived whole, the loader stage restarted the board
    // once, and the board's CRC of each is the image's.
    const vboard::BoardReport received = board.boardReport();
    ASSERT_EQ(received.fwcs.size(), desc.components.size());
    for (size_t i = 0; i < desc.components.size(); i++) {
        const vboard::FwcRecord &fwc = received.fwcs[i];
        EXPECT_EQ(fwc.name, desc.components[i].name);
        EXPECT_EQ(fwc.data, desc.components[i].bytes) << fwc.name;
        EXPECT_EQ(fwc.crc, zelimg::crc32Of(desc.components[i].bytes)) << fwc.name;
    }
    EXPECT_EQ(board.report().restarts, 1);
    EXPECT_EQ(received.mode, 1);

    // The line's pace held: every byte the host sent took its 10 bit times.
    const uint64_t hostBytes = board.report().hostBytes;
    EXPECT_GT(hostBytes, 23000u);
    EXPECT_GE(elapsed, std::chrono::microseconds(hostBytes * 10 * 1000000 / 115200));
}

}  // namespace
