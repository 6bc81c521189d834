#include "tst_zel_device.h"

#include "font_awesome.h"
#include "zel_device.h"

#include <QLabel>
#include <QProgressBar>
#include <QTest>

namespace
{

struct SlotView {
    explicit SlotView(ZelDevice &slot)
        : link(slot.findChild<QLabel *>(QStringLiteral("link_icon"))),
          port(slot.findChild<QLabel *>(QStringLiteral("usb_port"))),
          result(slot.findChild<QLabel *>(QStringLiteral("result_text"))),
          progress(slot.findChild<QProgressBar *>(QStringLiteral("progress_bar")))
    {
    }
    bool complete() const { return link && port && result && progress; }

    QLabel *link;
    QLabel *port;
    QLabel *result;
    QProgressBar *progress;
};

const QString kIdleProgressStyle = QStringLiteral(
    "#progress_bar {color: #000; } #progress_bar::chunk {background-color: #36c245;}");
const QString kWhiteText = QStringLiteral("#progress_bar {color: #fff;}");

} // namespace

void TestZelDevice::newSlotShowsDisconnected()
{
    ZelDevice slot(QStringLiteral("设备01"));
    SlotView view(slot);
    QVERIFY(view.complete());
    QCOMPARE(slot.state(), int(ZelDevice::Disconnected));
    QVERIFY(slot.isPresent());
    QVERIFY(!slot.startTime().isValid());
    QCOMPARE(view.result->text(), QStringLiteral("设备未连接"));
    QCOMPARE(view.result->styleSheet(), QStringLiteral("color: #888;"));
    QCOMPARE(view.link->text(), FontAwesome::glyph(FontAwesome::ChainBroken));
    QCOMPARE(view.link->font().family(), FontAwesome::family());
    QVERIFY(view.port->text().isEmpty());
    QCOMPARE(slot.findChild<QLabel *>(QStringLiteral("dev_name"))->text(),
             QStringLiteral("设备01"));
}

void TestZelDevice::statesShowTheirTextsAndStyles_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("style");

    QTest::newRow("disconnected") << int(ZelDevice::Disconnected) << QStringLiteral("设备未连接")
                                  << QStringLiteral("color: #888;");
    QTest::newRow("linked") << int(ZelDevice::Linked) << QStringLiteral("烧写即将开始")
                            << QStringLiteral("color: #2071c7;");
    QTest::newRow("burning") << int(ZelDevice::Burning) << QStringLiteral("正在烧写")
                             << QStringLiteral("color: #ff5722;");
    QTest::newRow("waiting") << int(ZelDevice::WaitingReboot) << QStringLiteral("等待设备重启")
                             << QStringLiteral("color: purple;");
    QTest::newRow("succeeded") << int(ZelDevice::Succeeded) << QStringLiteral("烧写成功")
                               << QStringLiteral("color: #09983b;");
    QTest::newRow("failed") << int(ZelDevice::Failed) << QStringLiteral("烧写失败")
                            << QStringLiteral("color: #de4745;");
}

void TestZelDevice::statesShowTheirTextsAndStyles()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QFETCH(QString, style);

    ZelDevice slot(QStringLiteral("设备02"));
    SlotView view(slot);
    slot.setPortText(QStringLiteral("1:2"));
    slot.setState(ZelDevice::Linked);
    slot.setProgress(40);
    slot.setState(state);
    QCOMPARE(slot.state(), state);
    QCOMPARE(view.result->text(), text);
    QCOMPARE(view.result->styleSheet(), style);

    if (state == ZelDevice::Disconnected) {
        QCOMPARE(view.link->text(), FontAwesome::glyph(FontAwesome::ChainBroken));
        QCOMPARE(view.link->styleSheet(), QStringLiteral("color: #aaa;"));
        QVERIFY(view.port->text().isEmpty());
        QCOMPARE(view.progress->value(), 0);
        QCOMPARE(view.progress->styleSheet(), kIdleProgressStyle);
    } else {
        QCOMPARE(view.link->text(), FontAwesome::glyph(FontAwesome::Link));
        QCOMPARE(view.link->styleSheet(), QStringLiteral("color: #2071c7;"));
        QCOMPARE(view.port->text(), QStringLiteral("usb 1:2"));
    }
}

void TestZelDevice::burningAndWaitingChangeOnlyTheResult()
{
    for (int state : {int(ZelDevice::Burning), int(ZelDevice::WaitingReboot)}) {
        ZelDevice slot(QStringLiteral("设备03"));
        SlotView view(slot);
        slot.setPortText(QStringLiteral("2:1:4"));
        slot.setState(ZelDevice::Linked);
        slot.setProgress(70);
        const QString linkStyle = view.link->styleSheet();
        const QString progressStyle = view.progress->styleSheet();
        slot.setState(state);
        QCOMPARE(view.progress->value(), 70);
        QCOMPARE(view.progress->styleSheet(), progressStyle);
        QCOMPARE(view.link->styleSheet(), linkStyle);
        QCOMPARE(view.port->text(), QStringLiteral("usb 2:1:4"));
    }
}

void TestZelDevice::progressTurnsTheTextWhitePastHalf()
{
    ZelDevice slot(QStringLiteral("设备04"));
    SlotView view(slot);
    slot.setState(ZelDevice::Linked);
    slot.setProgress(50);
    QCOMPARE(view.progress->value(), 50);
    QCOMPARE(view.progress->styleSheet(), kIdleProgressStyle);
    slot.setProgress(51);
    QCOMPARE(view.progress->value(), 51);
    QCOMPARE(view.progress->styleSheet(), kWhiteText);
    // A new link starts the bar over with dark text.
    slot.setState(ZelDevice::Linked);
    QCOMPARE(view.progress->value(), 0);
    QCOMPARE(view.progress->styleSheet(), kIdleProgressStyle);
}

void TestZelDevice::failureKeepsTheValueAndPaintsTheChunkRed_data()
{
    QTest::addColumn<int>("progress");
    QTest::addColumn<QString>("style");
    QTest::newRow("at 30") << 30
                           << QStringLiteral("#progress_bar::chunk {background-color: #de4745;}");
    QTest::newRow("at 50") << 50
                           << QStringLiteral("#progress_bar::chunk {background-color: #de4745;}");
    QTest::newRow("at 80")
        << 80
        << QStringLiteral(
               "#progress_bar {color: #fff;} #progress_bar::chunk {background-color: #de4745;}");
}

void TestZelDevice::failureKeepsTheValueAndPaintsTheChunkRed()
{
    QFETCH(int, progress);
    QFETCH(QString, style);
    ZelDevice slot(QStringLiteral("设备05"));
    SlotView view(slot);
    slot.setState(ZelDevice::Linked);
    slot.setProgress(progress);
    slot.setState(ZelDevice::Failed);
    QCOMPARE(view.progress->value(), progress);
    QCOMPARE(view.progress->styleSheet(), style);
}

void TestZelDevice::successFillsTheBar()
{
    ZelDevice slot(QStringLiteral("设备06"));
    SlotView view(slot);
    slot.setState(ZelDevice::Linked);
    slot.setProgress(12);
    slot.setState(ZelDevice::Succeeded);
    QCOMPARE(view.progress->value(), view.progress->maximum());
}

void TestZelDevice::unknownStateLeavesTheShownResult()
{
    ZelDevice slot(QStringLiteral("设备07"));
    SlotView view(slot);
    slot.setState(ZelDevice::Burning);
    slot.setState(9);
    QCOMPARE(view.result->text(), QStringLiteral("正在烧写"));
}

void TestZelDevice::resetEmptiesTheSlot()
{
    ZelDevice slot(QStringLiteral("设备08"));
    SlotView view(slot);
    slot.setPortText(QStringLiteral("1:2"));
    slot.setImageName(QStringLiteral("a.img"));
    slot.setPresent(false);
    slot.markStart();
    slot.setState(ZelDevice::Linked);
    slot.setProgress(90);
    slot.setState(ZelDevice::Succeeded);

    slot.reset();
    QVERIFY(slot.portText().isEmpty());
    QVERIFY(slot.imageName().isEmpty());
    QCOMPARE(slot.state(), int(ZelDevice::Disconnected));
    QCOMPARE(view.result->text(), QStringLiteral("设备未连接"));
    QVERIFY(view.port->text().isEmpty());
    QCOMPARE(view.progress->value(), 0);
    // The binding facts belong to the burn logic, not to the reset.
    QVERIFY(!slot.isPresent());
    QVERIFY(slot.startTime().isValid());
}

void TestZelDevice::slotNamesHaveTwoDigits()
{
    QCOMPARE(ZelDevice::slotName(1), QStringLiteral("设备01"));
    QCOMPARE(ZelDevice::slotName(9), QStringLiteral("设备09"));
    QCOMPARE(ZelDevice::slotName(10), QStringLiteral("设备10"));
    QCOMPARE(ZelDevice::slotName(16), QStringLiteral("设备16"));
}
