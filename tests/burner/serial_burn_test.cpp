// A whole burn over a serial line: the worker's burn loop, through a serial
// link, against the virtual serial board on a pseudo-terminal at the line's
// own pace, the loader stage's restart and the reconnect included.

#include "burner.h"
#include "device_linker_serial.h"
#include "image_builder.h"
#include "vboard_serial.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {

QStringList g_messages;

void collect(QtMsgType, const QMessageLogContext &, const QString &text)
{
    g_messages << text;
}

TEST(SerialBurn, SmallImageBurnsOverThePseudoTerminal)
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

    g_messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collect);
    const auto start = std::chrono::steady_clock::now();
    {
        Burner burner(std::make_unique<DeviceLinkerSerial>(QString::fromStdString(board.path())),
                      image, 0);
        ASSERT_TRUE(burner.isReady());
        burner.run();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    qInstallMessageHandler(previous);

    const QString log = g_messages.join(QLatin1Char('\n'));
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
