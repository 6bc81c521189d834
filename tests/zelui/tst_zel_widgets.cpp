#include "tst_zel_widgets.h"

#include "font_awesome.h"
#include "modal_answerer.h"
#include "zel_about.h"
#include "zel_calendar.h"
#include "zel_dialog.h"
#include "zel_label.h"
#include "zel_log_dialog.h"
#include "zel_title_bar.h"

#include <algorithm>

#include <QDesktopServices>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QUrl>
#include <QVBoxLayout>

void UrlRecorder::open(const QUrl &url)
{
    urls.append(url);
}

void TestZelWidgets::alertShowsTextAndReportsTheAnswer()
{
    {
        ModalAnswerer answer(QStringLiteral("ok_btn"));
        QVERIFY(ZelDialog::alert(nullptr, QStringLiteral("镜像格式不正确"), false));
        QVERIFY(answer.answered());
        QCOMPARE(answer.text(), QStringLiteral("镜像格式不正确"));
    }
    {
        ModalAnswerer answer(QStringLiteral("cancel_btn"));
        QVERIFY(!ZelDialog::alert(nullptr, QStringLiteral("question"), true));
        QVERIFY(answer.answered());
    }
    {
        // Closing through the title bar counts as no.
        ModalAnswerer answer(QStringLiteral("bar_close"));
        QVERIFY(!ZelDialog::alert(nullptr, QStringLiteral("x"), false));
    }
    {
        // Alert texts are shown literally, never as markup.
        ModalAnswerer answer(QStringLiteral("ok_btn"));
        ZelDialog::alert(nullptr, QStringLiteral("<b>a'b.img</b>"), false);
        QCOMPARE(answer.text(), QStringLiteral("<b>a'b.img</b>"));
    }
}

void TestZelWidgets::alertWithoutCancelOffersNoCancelButton()
{
    ModalAnswerer answer(QStringLiteral("cancel_btn"));
    // No cancel button: the answerer falls back to rejecting the dialog.
    QVERIFY(!ZelDialog::alert(nullptr, QStringLiteral("x"), false));
    QVERIFY(answer.answered());
}

void TestZelWidgets::dialogTitleAndContent()
{
    ZelDialog dialog(nullptr, true);
    dialog.setTitle(QStringLiteral("日期选择"));
    // Frameless: the title is seen only as a label of the dialog's own bar.
    auto *bar = dialog.findChild<ZelTitleBar *>();
    QVERIFY(bar);
    const QList<QLabel *> labels = bar->findChildren<QLabel *>();
    QVERIFY(std::any_of(labels.cbegin(), labels.cend(),
                        [](const QLabel *l) { return l->text() == QStringLiteral("日期选择"); }));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("日期选择"));
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);

    auto *first = new QHBoxLayout;
    auto *firstLabel = new QLabel(QStringLiteral("first"));
    auto *nested = new QVBoxLayout;
    auto *nestedLabel = new QLabel(QStringLiteral("nested"));
    nested->addWidget(nestedLabel);
    first->addWidget(firstLabel);
    first->addLayout(nested);
    dialog.setContentLayout(first);
    QPointer<QLabel> firstGuard(firstLabel);
    QPointer<QLabel> nestedGuard(nestedLabel);

    auto *second = new QHBoxLayout;
    second->addWidget(new QLabel(QStringLiteral("second")));
    dialog.setContentLayout(second);

    // The earlier body is gone, the new one is in place.
    QVERIFY(firstGuard.isNull());
    QVERIFY(nestedGuard.isNull());
    QCOMPARE(dialog.findChildren<QWidget *>(QStringLiteral("zel_dialog_body")).size(), 1);
    auto *body = dialog.findChild<QWidget *>(QStringLiteral("zel_dialog_body"));
    QVERIFY(body);
    QCOMPARE(body->layout(), second);

    ZelDialog bare(nullptr, false);
    QVERIFY(!bare.findChild<QPushButton *>(QStringLiteral("bar_close")));
    QVERIFY(dialog.findChild<QPushButton *>(QStringLiteral("bar_close")));
}

void TestZelWidgets::titleBarShowsTheBarIcon()
{
    QPixmap red(32, 32);
    red.fill(Qt::red);
    ZelTitleBar::setBarIcon(QIcon(red));
    ZelDialog dialog(nullptr, true);
    auto *icon = dialog.findChild<QLabel *>(QStringLiteral("bar_icon"));
    QVERIFY(icon);
    const QPixmap shown = icon->pixmap(Qt::ReturnByValue);
    QVERIFY(!shown.isNull());
    QCOMPARE(shown.toImage().pixelColor(5, 5), QColor(Qt::red));
    ZelTitleBar::setBarIcon(QIcon());
}

void TestZelWidgets::labelClicksOnlyOnReleaseInside()
{
    ZelLabel label(QStringLiteral("about"));
    label.resize(100, 50);
    QSignalSpy clicked(&label, &ZelLabel::clicked);

    QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(clicked.count(), 1);

    QTest::mouseClick(&label, Qt::RightButton, {}, QPoint(10, 10));
    QCOMPARE(clicked.count(), 1);

    // Pressed inside, released outside: no click.
    QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(300, 300));
    QCOMPARE(clicked.count(), 1);
}

static QColor lineColor(QPlainTextEdit *text, int line)
{
    const QTextBlock block = text->document()->findBlockByNumber(line);
    return block.begin().fragment().charFormat().foreground().color();
}

void TestZelWidgets::logDialogColoursLinesByLevel()
{
    ZelLogDialog dialog;
    QVERIFY(dialog.minimumWidth() >= 800 && dialog.minimumHeight() >= 400);
    auto *text = dialog.findChild<QPlainTextEdit *>(QStringLiteral("log_text"));
    QVERIFY(text);

    dialog.appendText(QtDebugMsg, QStringLiteral("[debug] one"), false);
    dialog.appendText(QtWarningMsg, QStringLiteral("[warn ] two"), false);
    dialog.appendText(QtCriticalMsg, QStringLiteral("[error] <b>three</b>"), false);

    QCOMPARE(text->document()->blockCount(), 3);
    QCOMPARE(lineColor(text, 0), ZelLogDialog::levelColor(QtDebugMsg));
    QCOMPARE(lineColor(text, 1), ZelLogDialog::levelColor(QtWarningMsg));
    QCOMPARE(lineColor(text, 2), ZelLogDialog::levelColor(QtCriticalMsg));
    QVERIFY(ZelLogDialog::levelColor(QtDebugMsg) != ZelLogDialog::levelColor(QtWarningMsg));
    QVERIFY(ZelLogDialog::levelColor(QtWarningMsg) != ZelLogDialog::levelColor(QtCriticalMsg));
    // Log lines are text: markup in them is shown as written.
    QCOMPARE(text->document()->findBlockByNumber(2).text(), QStringLiteral("[error] <b>three</b>"));

    dialog.clearLog();
    QVERIFY(text->document()->isEmpty());
    dialog.appendText(QtDebugMsg, QStringLiteral("again"), false);
    QCOMPARE(text->document()->blockCount(), 1);
}

void TestZelWidgets::logDialogOpensTheFolderOfItsFile()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    ZelLogDialog dialog;
    dialog.setLogFilePath(QStringLiteral("/tmp/logs/2024-05-06/1#2/42.log"));
    QCOMPARE(dialog.logFilePath(), QStringLiteral("/tmp/logs/2024-05-06/1#2/42.log"));
    auto *open = dialog.findChild<QPushButton *>(QStringLiteral("open_dir_btn"));
    QVERIFY(open);
    open->click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(recorder.urls.size(), 1);
    QCOMPARE(recorder.urls.first().toLocalFile(), QStringLiteral("/tmp/logs/2024-05-06/1#2"));
}

void TestZelWidgets::calendarMarksExactlyTheGivenDates()
{
    ZelCalendar calendar;
    const QDate a(2024, 5, 1), b(2024, 5, 6), c(2024, 5, 9);
    calendar.setShowDates({a, b});
    QCOMPARE(calendar.dateTextFormat(a).background(), ZelCalendar::markFormat().background());
    QCOMPARE(calendar.dateTextFormat(b).background(), ZelCalendar::markFormat().background());
    QCOMPARE(calendar.dateTextFormat(c).background(), QTextCharFormat().background());

    calendar.setShowDates({c});
    QCOMPARE(calendar.dateTextFormat(a).background(), QTextCharFormat().background());
    QCOMPARE(calendar.dateTextFormat(c).background(), ZelCalendar::markFormat().background());
}

void TestZelWidgets::fontAwesomeDrawsRealGlyphs()
{
    QVERIFY(!FontAwesome::family().isEmpty());
    QLabel label;
    FontAwesome::setLabelIcon(&label, FontAwesome::Fire);
    QCOMPARE(label.text(), QString(QChar(0xF06D)));
    QCOMPARE(label.font().family(), FontAwesome::family());

    // Every glyph the console uses is in the compiled-in font, so none is drawn as a box.
    const QFontMetrics metrics(label.font());
    for (ushort code : {0xF06D, 0xF1DA, 0xF02D, 0xF085, 0xF29C, 0xF127, 0xF0C1, 0xF15C, 0xF014})
        QVERIFY2(metrics.inFont(QChar(code)), qPrintable(QString::number(code, 16)));

    QPushButton button;
    FontAwesome::setButtonIcon(&button, FontAwesome::TrashO);
    QCOMPARE(button.text(), QString(QChar(0xF014)));
    QCOMPARE(button.font().family(), FontAwesome::family());
}

void TestZelWidgets::aboutShowsTitleAndBuildTime()
{
    ZelAbout about(QStringLiteral("Zelkora量产工具 v0.1.8"), QStringLiteral("Jul 27 202316:46:59"));
    auto *title = about.findChild<QLabel *>(QStringLiteral("about_title"));
    auto *built = about.findChild<QLabel *>(QStringLiteral("about_build_time"));
    QVERIFY(title && built);
    QCOMPARE(title->text(), QStringLiteral("Zelkora量产工具 v0.1.8"));
    QVERIFY(built->text().endsWith(QStringLiteral("Jul 27 202316:46:59")));
}
