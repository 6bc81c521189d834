#include "tst_veldmark.h"

#include "app_info.h"
#include "application_font.h"
#include "elided_label.h"
#include "font_awesome.h"
#include "history_database.h"
#include "manual_tab.h"
#include "setting_tab.h"
#include "veldmark.h"
#include "zel_about.h"
#include "zel_label.h"

#include <QApplication>
#include <QDate>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTableView>
#include <QTest>
#include <QTextDocument>

void TestVeldmark::initTestCase()
{
    // The window opens the day's log below the working directory.
    QVERIFY(m_dir.isValid());
    m_previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

void TestVeldmark::cleanupTestCase()
{
    QDir::setCurrent(m_previousDir);
}

void TestVeldmark::applicationFontIsTheDroidFallback()
{
    const QFont previous = QApplication::font();
    QVERIFY(installApplicationFont());
    const QFont font = QApplication::font();
    QApplication::setFont(previous);
    QCOMPARE(font.family(), QStringLiteral("Droid Sans Fallback"));
    QCOMPARE(font.pixelSize(), 15);
    // The menu titles are drawn from it, not from a substitute.
    QVERIFY(QFontMetrics(font).inFont(QChar(0x70E7))); // 烧
}

void TestVeldmark::titleIsExact()
{
    Veldmark window;
    // Workers find the console by these bytes.
    QCOMPARE(window.windowTitle().toUtf8(),
             QByteArray("Zelkora\xe9\x87\x8f\xe4\xba\xa7\xe5\xb7\xa5\xe5\x85\xb7 v0.1.8"));
    QCOMPARE(AppInfo::windowTitle(), window.windowTitle());
}

void TestVeldmark::windowSizeAndDailyLog()
{
    Veldmark window;
    QCOMPARE(window.size(), QSize(1024, 600));
    QCOMPARE(window.minimumSize(), QSize(1024, 600));
    QVERIFY(!window.styleSheet().isEmpty());
    // A central history's long error is shortened on the burn page, whole in
    // its tooltip, and never widens the window.
    auto *central = window.findChild<ElidedLabel *>(QStringLiteral("central_state"));
    const QString error = QStringLiteral("中央历史：") + QString(400, QLatin1Char('x'));
    central->setFullText(error + QStringLiteral("\nDETAIL: y"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.width(), 1024);
    QVERIFY(window.minimumSizeHint().width() <= 1024);
    QVERIFY(central->text().endsWith(QChar(0x2026)));
    QCOMPARE(central->toolTip(), error + QStringLiteral(" DETAIL: y"));
    const QString log = QStringLiteral("log/%1/main.log")
                            .arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
    QVERIFY2(QFileInfo::exists(log), qPrintable(log));
}

void TestVeldmark::menuRowsAndPages()
{
    struct Row {
        const char *objectName;
        QString title;
        ushort glyph;
    };
    const Row rows[] = {
        {"burn_tab", QStringLiteral("镜像烧写"), 0xF06D},
        {"history_tab", QStringLiteral("烧写历史"), 0xF1DA},
        {"manual_tab", QStringLiteral("使用说明"), 0xF02D},
        {"setting_tab", QStringLiteral("系统配置"), 0xF085},
    };

    Veldmark window;
    auto *menu = window.findChild<QListWidget *>(QStringLiteral("left_menu"));
    QVERIFY(menu);
    QCOMPARE(menu->width(), 100);
    QCOMPARE(menu->count(), 4);
    auto *content = window.findChild<QWidget *>(QStringLiteral("right_content"));
    QVERIFY(content);
    auto *pages = qobject_cast<QStackedLayout *>(content->layout());
    QVERIFY(pages);
    QCOMPARE(pages->count(), 4);

    for (int i = 0; i < 4; ++i) {
        QCOMPARE(pages->widget(i)->objectName(), QLatin1String(rows[i].objectName));
        QCOMPARE(menu->item(i)->sizeHint(), QSize(100, 100));
        QWidget *entry = menu->itemWidget(menu->item(i));
        QVERIFY(entry);
        auto *icon = entry->findChild<QLabel *>(QStringLiteral("menu_icon"));
        QVERIFY(icon);
        QCOMPARE(icon->text(), QString(QChar(rows[i].glyph)));
        QCOMPARE(icon->font().family(), FontAwesome::family());
        QStringList texts;
        for (QLabel *label : entry->findChildren<QLabel *>())
            texts << label->text();
        QVERIFY2(texts.contains(rows[i].title), qPrintable(texts.join(QLatin1Char(','))));
    }

    auto *about = window.findChild<ZelLabel *>(QStringLiteral("about_btn"));
    QVERIFY(about);
    QCOMPARE(about->size(), QSize(100, 55));
    QCOMPARE(about->text(), QString(QChar(0xF29C)));
}

void TestVeldmark::selectingARowHighlightsItAndShowsItsPage()
{
    const QString selected = QStringLiteral("background-color: #2a86bf; color: #fff;");
    Veldmark window;
    auto *menu = window.findChild<QListWidget *>(QStringLiteral("left_menu"));
    auto *pages = qobject_cast<QStackedLayout *>(
        window.findChild<QWidget *>(QStringLiteral("right_content"))->layout());

    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(menu->itemWidget(menu->item(0))->styleSheet(), selected);

    // The operator's click reaches the window through the list's selection.
    menu->setCurrentRow(2);
    QCOMPARE(pages->currentIndex(), 2);
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("manual_tab"));
    for (int i = 0; i < menu->count(); ++i)
        QCOMPARE(menu->itemWidget(menu->item(i))->styleSheet(), i == 2 ? selected : QString());

    window.selectTab(3);
    QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("setting_tab"));
    QCOMPARE(menu->itemWidget(menu->item(2))->styleSheet(), QString());
    QCOMPARE(menu->itemWidget(menu->item(3))->styleSheet(), selected);
}

void TestVeldmark::aboutBoxIsCreatedOnce()
{
    Veldmark window;
    auto *about = window.findChild<ZelLabel *>(QStringLiteral("about_btn"));
    QVERIFY(window.findChildren<ZelAbout *>().isEmpty());

    QTest::mouseClick(about, Qt::LeftButton);
    const QList<ZelAbout *> first = window.findChildren<ZelAbout *>();
    QCOMPARE(first.size(), 1);
    QVERIFY(first.first()->isVisible());
    first.first()->close();

    QTest::mouseClick(about, Qt::LeftButton);
    const QList<ZelAbout *> second = window.findChildren<ZelAbout *>();
    QCOMPARE(second.size(), 1);
    QCOMPARE(second.first(), first.first());
    QVERIFY(second.first()->isVisible());

    QCOMPARE(second.first()->findChild<QLabel *>(QStringLiteral("about_title"))->text(),
             window.windowTitle());
    const QString built =
        second.first()->findChild<QLabel *>(QStringLiteral("about_build_time"))->text();
    // Build date and time run together, e.g. "Jul 27 202316:46:59".
    QVERIFY2(
        QRegularExpression(QStringLiteral("[A-Z][a-z]{2} [ 0-9]\\d \\d{4}\\d\\d:\\d\\d:\\d\\d$"))
            .match(built)
            .hasMatch(),
        qPrintable(built));
    // It is the sources' time, not the clock's, so that a rebuild gives the
    // same program: in UTC, in English whatever the locale, the day padded
    // with a space as compilers write it.
    QVERIFY(built.endsWith(AppInfo::buildTime()));
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString december = AppInfo::buildTime(1796634300);
    const QString july = AppInfo::buildTime(1690476419);
    QLocale::setDefault(previous);
    QCOMPARE(december, QStringLiteral("Dec  7 202609:05:00"));
    QCOMPARE(july, QStringLiteral("Jul 27 202316:46:59"));
}

void TestVeldmark::historyClearedInTheSettingsIsGoneFromTheHistoryPage()
{
    HistoryDatabase::instance()->insertHistory(QStringLiteral("1:2"), QStringLiteral("a.img"),
                                               QDateTime::currentSecsSinceEpoch(), 3, true);
    Veldmark window;
    auto *table = window.findChild<QTableView *>(QStringLiteral("burn_history"));
    QCOMPARE(table->model()->rowCount(), 1);
    QVERIFY(HistoryDatabase::instance()->deleteHistoryAfter(QString()) == 1);
    emit window.findChild<SettingTab *>()->clearHistory();
    QCOMPARE(table->model()->rowCount(), 0);
}

void TestVeldmark::manualHasItsSectionsAndPictures()
{
    const QString document = ManualTab::document();
    QVERIFY(
        document.startsWith(QStringLiteral("<style>li {margin: 7px; line-height: 22px;}</style>")));

    QStringList headings;
    const QRegularExpression heading(QStringLiteral("<h4>(.*?)</h4>"));
    for (auto it = heading.globalMatch(document); it.hasNext();)
        headings << it.next().captured(1);
    QCOMPARE(headings, QStringList({QStringLiteral("1、选择镜像"), QStringLiteral("2、设备烧写"),
                                    QStringLiteral("3、烧写成功"), QStringLiteral("4、烧写失败")}));

    QStringList pictures;
    const QRegularExpression image(QStringLiteral("<img src=\"([^\"]+)\">"));
    for (auto it = image.globalMatch(document); it.hasNext();)
        pictures << it.next().captured(1);
    QCOMPARE(pictures, QStringList({QStringLiteral(":/image/img_info.png"),
                                    QStringLiteral(":/image/status_idle.png"),
                                    QStringLiteral(":/image/status_linked.png"),
                                    QStringLiteral(":/image/status_buring.png"),
                                    QStringLiteral(":/image/devs_burn.png"),
                                    QStringLiteral(":/image/status_success.png"),
                                    QStringLiteral(":/image/status_fail.png")}));
    // Every picture was rendered by the build and compiled in.
    for (const QString &picture : qAsConst(pictures)) {
        const QImage rendered(picture);
        QVERIFY2(!rendered.isNull(), qPrintable(picture));
        QVERIFY(rendered.width() >= 400);
    }
}

void TestVeldmark::manualPicturesFitThePageAtTheDefaultSize()
{
    Veldmark window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(1024, 600));
    window.selectTab(2);
    auto *page = window.findChild<QWidget *>(QStringLiteral("manual_tab"));
    auto *scroll = page->findChild<QScrollArea *>();
    auto *text = page->findChild<QLabel *>(QStringLiteral("manual_text"));
    QApplication::processEvents();
    QVERIFY(scroll->verticalScrollBar()->isVisible());

    // Nothing reaches under the scroll bar or past the page's right edge:
    // the text lays out, pictures included, within the label's width, and
    // the label within the visible part of the scroll area.
    QTextDocument document;
    document.setDefaultFont(text->font());
    document.setHtml(text->text());
    document.setTextWidth(text->contentsRect().width());
    QVERIFY2(document.idealWidth() <= text->contentsRect().width(),
             qPrintable(QStringLiteral("content %1 px on a %2 px page")
                            .arg(document.idealWidth())
                            .arg(text->contentsRect().width())));
    QVERIFY2(text->width() <= scroll->viewport()->width(),
             qPrintable(QStringLiteral("label %1 px in a %2 px view")
                            .arg(text->width())
                            .arg(scroll->viewport()->width())));
}

void TestVeldmark::iconIsDrawn()
{
    QImageReader reader(QStringLiteral(":/image/veldmark.ico"));
    const QImage icon = reader.read();
    QVERIFY2(!icon.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(icon.size(), QSize(128, 128));
    // Transparent corner, opaque chip in the middle.
    QCOMPARE(icon.pixelColor(0, 0).alpha(), 0);
    QCOMPARE(icon.pixelColor(64, 30).alpha(), 255);
}
