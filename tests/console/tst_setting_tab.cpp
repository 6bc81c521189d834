#include "tst_setting_tab.h"

#include "history_database.h"
#include "history_tab.h"
#include "setting_tab.h"
#include "settings_store.h"
#include "tab_test_support.h"
#include "zel_combo_box.h"
#include "zel_label.h"

#include <QButtonGroup>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QUrl>

namespace
{
QPushButton *buttonWithText(QWidget *parent, const QString &text, int index = 0)
{
    QList<QPushButton *> matches;
    for (QPushButton *button : parent->findChildren<QPushButton *>()) {
        if (button->text() == text)
            matches << button;
    }
    return index < matches.size() ? matches.at(index) : nullptr;
}

QRadioButton *radioWithText(QWidget *parent, const QString &text)
{
    for (QRadioButton *button : parent->findChildren<QRadioButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// The value of key in the settings file as written on disk.
QString fileValue(const char *key)
{
    const QRegularExpression line(QStringLiteral("^%1=(.*)$").arg(QLatin1String(key)),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match =
        line.match(QString::fromUtf8(readFile(QStringLiteral("Veldmark.ini"))));
    return match.hasMatch() ? match.captured(1).trimmed() : QStringLiteral("<absent>");
}

class UrlRecorder : public QObject
{
    Q_OBJECT
public slots:
    void open(const QUrl &url) { urls << url; }

public:
    QList<QUrl> urls;
};
} // namespace

void TestSettingTab::init()
{
    makeHistoryDeletesFail(false);
    clearHistoryAndLogs();
}

void TestSettingTab::cleanup()
{
    QDir().rmdir(QStringLiteral("Veldmark.ini"));
}

void TestSettingTab::gridButtonsFollowTheFileAndWriteTheClickedValue()
{
    SettingsStore *settings = SettingsStore::instance();
    settings->setValue(QStringLiteral("common"), QStringLiteral("max_dev_count"),
                       QStringLiteral("12"));
    settings->setDevColumnCount(3);
    SettingTab tab(nullptr, &testToday);
    QRadioButton *eight = radioWithText(&tab, QStringLiteral("8"));
    QRadioButton *sixteen = radioWithText(&tab, QStringLiteral("16"));
    // A slot count no grid has is used as 8: the page shows what the grid is.
    QVERIFY(eight->isChecked());
    QVERIFY(!sixteen->isChecked());
    QVERIFY(radioWithText(&tab, QStringLiteral("3"))->isChecked());
    QVERIFY(radioWithText(&tab, QStringLiteral("窗口"))->isChecked());

    sixteen->click();
    QCOMPARE(fileValue("max_dev_count"), QStringLiteral("16"));
    eight->click();
    QCOMPARE(fileValue("max_dev_count"), QStringLiteral("8"));
    radioWithText(&tab, QStringLiteral("1"))->click();
    QCOMPARE(fileValue("dev_column_count"), QStringLiteral("1"));

    // A click the file cannot take is no silent success.
    QVERIFY(QFile::rename(QStringLiteral("Veldmark.ini"), QStringLiteral("saved.ini")));
    QVERIFY(QDir().mkdir(QStringLiteral("Veldmark.ini")));
    QCOMPARE(alertTextOf([&] { eight->click(); }), QStringLiteral("保存失败：无法写入配置文件"));
    QVERIFY(QDir().rmdir(QStringLiteral("Veldmark.ini")));
    QVERIFY(QFile::rename(QStringLiteral("saved.ini"), QStringLiteral("Veldmark.ini")));
}

void TestSettingTab::clearingAPeriodRemovesItsRowsAndBurnLogsAndKeepsMainLogs_data()
{
    QTest::addColumn<int>("period");
    QTest::addColumn<QList<int>>("keptDaysBefore");
    QTest::newRow("今天") << 0 << QList<int>{6, 7, 29, 30};
    QTest::newRow("近一周") << 1 << QList<int>{7, 29, 30};
    QTest::newRow("近一个月") << 2 << QList<int>{30};
    QTest::newRow("所有") << 3 << QList<int>{};
}

void TestSettingTab::clearingAPeriodRemovesItsRowsAndBurnLogsAndKeepsMainLogs()
{
    QFETCH(int, period);
    QFETCH(QList<int>, keptDaysBefore);
    const QList<int> daysBefore = {0, 6, 7, 29, 30};
    for (int days : daysBefore) {
        const QDateTime begin = dayTime(days, 12);
        insertBurn(QStringLiteral("1:2"), QStringLiteral("a.img"), begin, 30, true);
        const QString day = begin.date().toString(QStringLiteral("yyyy-MM-dd"));
        writeTextFile(QStringLiteral("log/%1/main.log").arg(day), "[info ] console\n");
        writeTextFile(QStringLiteral("log/%1/1#2/%2.log").arg(day).arg(begin.toSecsSinceEpoch()),
                      "[info ] burn\n");
    }

    HistoryTab history(nullptr, &testToday);
    SettingTab tab(nullptr, &testToday);
    connect(&tab, &SettingTab::clearHistory, &history, &HistoryTab::refresh);
    auto *table = history.findChild<QTableView *>();
    QCOMPARE(table->model()->rowCount(), 1);

    tab.findChild<ZelComboBox *>()->setCurrentIndex(period);
    QCOMPARE(alertTextOf([&] { buttonWithText(&tab, QStringLiteral("清除"), 0)->click(); }),
             QStringLiteral("烧写历史清除成功"));
    QCOMPARE(table->model()->rowCount(), 0);
    // The earliest day stays reachable after the clearing.
    QVERIFY(history.findChild<QPushButton *>(QStringLiteral("pre_btn"))->isEnabled());

    QList<QDate> kept;
    for (int days : keptDaysBefore)
        kept.prepend(testToday().addDays(-days)); // earliest first
    QCOMPARE(HistoryDatabase::instance()->historyDates(), kept);
    for (int days : daysBefore) {
        const QDateTime begin = dayTime(days, 12);
        const QString day = begin.date().toString(QStringLiteral("yyyy-MM-dd"));
        QVERIFY2(QFile::exists(QStringLiteral("log/%1/main.log").arg(day)), qPrintable(day));
        QCOMPARE(QFile::exists(
                     QStringLiteral("log/%1/1#2/%2.log").arg(day).arg(begin.toSecsSinceEpoch())),
                 keptDaysBefore.contains(days));
    }
}

void TestSettingTab::clearingThatCannotChangeTheDatabaseKeepsEverythingAndSaysSo()
{
    const QDateTime begin = dayTime(0, 12);
    insertBurn(QStringLiteral("1:2"), QStringLiteral("a.img"), begin, 30, true);
    const QString burnLog =
        QStringLiteral("log/2024-05-06/1#2/%1.log").arg(begin.toSecsSinceEpoch());
    writeTextFile(burnLog, "[info ] burn\n");
    SettingTab tab(nullptr, &testToday);
    QSignalSpy cleared(&tab, &SettingTab::clearHistory);
    tab.findChild<ZelComboBox *>()->setCurrentIndex(3);

    makeHistoryDeletesFail(true);
    QCOMPARE(alertTextOf([&] { buttonWithText(&tab, QStringLiteral("清除"), 0)->click(); }),
             QStringLiteral("烧写历史清除失败：无法修改历史数据库"));
    QCOMPARE(HistoryDatabase::instance()->historyDates(), QList<QDate>{testToday()});
    QVERIFY(QFile::exists(burnLog));
    QCOMPARE(cleared.count(), 0);
}

void TestSettingTab::resetAndBindingClearingSayWhetherTheFileWasWritten()
{
    SettingsStore *settings = SettingsStore::instance();
    settings->setTotalCount(5);
    settings->setSuccessCount(3);
    settings->setFailCount(2);
    settings->setPortMapping(PortMapping{{QStringLiteral("1:2"), 0}});
    SettingTab tab(nullptr, &testToday);
    QSignalSpy reset(&tab, &SettingTab::statisticReseted);
    QString mappingWhenSignalled;
    connect(&tab, &SettingTab::clearMapping,
            [&] { mappingWhenSignalled = fileValue("port_mapping"); });

    QCOMPARE(alertTextOf([&] { buttonWithText(&tab, QStringLiteral("重置"))->click(); }),
             QStringLiteral("重置成功"));
    QCOMPARE(reset.count(), 1);
    for (const char *key : {"total_count", "success_count", "fail_count"})
        QCOMPARE(fileValue(key), QStringLiteral("0"));

    QCOMPARE(alertTextOf([&] { buttonWithText(&tab, QStringLiteral("清除"), 1)->click(); }),
             QStringLiteral("清除成功"));
    // The burn page empties its map before the file is written.
    QCOMPARE(mappingWhenSignalled, QStringLiteral("0_1:2"));
    QCOMPARE(fileValue("port_mapping"), QString());

    QVERIFY(QFile::rename(QStringLiteral("Veldmark.ini"), QStringLiteral("saved.ini")));
    QVERIFY(QDir().mkdir(QStringLiteral("Veldmark.ini")));
    QCOMPARE(alertTextOf([&] { buttonWithText(&tab, QStringLiteral("重置"))->click(); }),
             QStringLiteral("重置失败：无法写入配置文件"));
    QCOMPARE(alertTextOf([&] { buttonWithText(&tab, QStringLiteral("清除"), 1)->click(); }),
             QStringLiteral("清除失败：无法写入配置文件"));
    QVERIFY(QDir().rmdir(QStringLiteral("Veldmark.ini")));
    QVERIFY(QFile::rename(QStringLiteral("saved.ini"), QStringLiteral("Veldmark.ini")));
}

void TestSettingTab::feedbackLinkOpensTheConfiguredService()
{
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");
    auto follow = [](const SettingTab &tab) {
        auto *link = tab.findChild<QLabel *>(QStringLiteral("feedback_link"));
        QCOMPARE(link->text().contains(QStringLiteral(">去反馈</a>")), true);
        const QRegularExpressionMatch href =
            QRegularExpression(QStringLiteral("href=\"([^\"]*)\"")).match(link->text());
        QVERIFY(href.hasMatch());
        // The label hands the attribute's text, entities resolved, to its signal.
        emit link->linkActivated(
            href.captured(1).replace(QStringLiteral("&amp;"), QStringLiteral("&")));
    };

    SettingsStore::instance()->setValue(QStringLiteral("service"), QStringLiteral("feedback_url"),
                                        QString());
    follow(SettingTab(nullptr, &testToday));
    SettingsStore::instance()->setValue(QStringLiteral("service"), QStringLiteral("feedback_url"),
                                        QStringLiteral("http://feedback.example.test:8080/"));
    follow(SettingTab(nullptr, &testToday));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    QCOMPARE(recorder.urls,
             QList<QUrl>({QUrl(QStringLiteral("http://feedback.zelkora.invalid:8080/api/"
                                              "feedback_edit?app_id=2&version_no=0.1.8")),
                          QUrl(QStringLiteral("http://feedback.example.test:8080/api/"
                                              "feedback_edit?app_id=2&version_no=0.1.8"))}));
}

void TestSettingTab::restartIsRefusedWhileABoardIsBurning()
{
    SettingTab tab(nullptr, &testToday);
    tab.setBurnRunningCheck([] { return true; });
    tab.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tab));
    auto *hint = tab.findChild<ZelLabel *>(QStringLiteral("bottom_tip_label"));
    QVERIFY(hint->text().contains(QStringLiteral("点我重启")));
    QCOMPARE(alertTextOf([&] { QTest::mouseClick(hint, Qt::LeftButton); }),
             QStringLiteral("正在烧写设备，请稍后再重启"));
    QVERIFY(tab.isVisible());
}

#include "tst_setting_tab.moc"
