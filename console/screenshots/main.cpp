// Starts the console window as the program does, selects each menu row in turn
// the way a click does, and writes one screenshot per page (a second one,
// scrolled half-way, of a page longer than the window; and one of the about
// box) into the folder given as the only argument. The history page gets a few
// burns of today and of three days ago first, and is also shown on a day
// without burns, with its calendar and with one burn's log.

#include "application_font.h"
#include "burn_log.h"
#include "console_resources.h"
#include "history_database.h"
#include "trace_store.h"
#include "history_tab.h"
#include "veldmark.h"
#include "zel_about.h"
#include "zel_label.h"
#include "zel_log_dialog.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QDateTime>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTest>
#include <QTextStream>

// Burns in the working directory's history and one burn log; returns that burn's id.
static int seedHistory()
{
    HistoryDatabase *database = HistoryDatabase::instance();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QStringList images = {QStringLiteral("zelkora_v3.2.1_release.img"),
                                QStringLiteral("量产固件_2024.img")};
    for (int i = 0; i < 12; ++i) {
        BurnTrace trace;
        trace.historyId = database->insertHistory(
            QStringLiteral("1:%1:%2").arg(2 + i % 3).arg(1 + i % 4), images.at(i % 2),
            now - 600 * (i + 1), 40 + i, i % 5 != 3);
        // Most boards carry their serial number; an old one has none.
        if (i != 7) {
            trace.boardTrace = QByteArray("ZK3308-24") + QByteArray::number(1207 + i);
            TraceStore::instance()->record(trace);
        }
    }
    database->insertHistory(QStringLiteral("2:1"), images.at(0), now - 3 * 86400, 61, true);

    const HistoryRecord newest =
        database
            ->historyOfDate(
                QDateTime::fromSecsSinceEpoch(now - 600).toString(QStringLiteral("yyyy-MM-dd")))
            .first();
    const QString path = QStringLiteral("log/") + burnLogPath(newest);
    QDir().mkpath(QFileInfo(path).path());
    QFile log(path);
    if (log.open(QIODevice::WriteOnly | QIODevice::Text))
        log.write("[info ] [2024-05-06 10:00:00] Burn image zelkora_v3.2.1_release.img\n"
                  "[debug] [2024-05-06 10:00:01] FWC updater.spl: 32768 bytes\n"
                  "[warn ] [2024-05-06 10:00:02] Board restarted, waiting for it\n"
                  "[error] [2024-05-06 10:00:12] CRC mismatch in rootfs\n"
                  "[info ] [2024-05-06 10:00:13] Burn result: failure\n");
    return newest.id;
}

static bool save(QWidget *widget, const QString &path)
{
    QApplication::processEvents();
    QTest::qWait(200);
    const bool saved = widget->grab().save(path, "PNG");
    QTextStream(stdout) << (saved ? "wrote " : "FAILED to write ") << path << Qt::endl;
    return saved;
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: veldmark_screenshots <output folder>\n";
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral(".")))
        return 1;
    initConsoleResources();
    installApplicationFont();
    const int loggedBurn = seedHistory();

    Veldmark window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;

    bool ok = true;
    auto *menu = window.findChild<QListWidget *>(QStringLiteral("left_menu"));
    QWidget *pages = window.findChild<QWidget *>(QStringLiteral("right_content"));
    for (int row = 0; row < menu->count(); ++row) {
        menu->setCurrentRow(row);
        const QString page =
            qobject_cast<QStackedLayout *>(pages->layout())->currentWidget()->objectName();
        ok &= save(&window, folder.filePath(QStringLiteral("%1_%2.png").arg(row + 1).arg(page)));
        // A page longer than the window (the manual) is shown once more
        // scrolled half-way, where its wide pictures are.
        auto *scroll = qobject_cast<QStackedLayout *>(pages->layout())
                           ->currentWidget()
                           ->findChild<QScrollArea *>();
        if (scroll && scroll->verticalScrollBar()->maximum() > 0) {
            scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum() / 2);
            ok &= save(&window,
                       folder.filePath(QStringLiteral("%1_%2_middle.png").arg(row + 1).arg(page)));
        }
    }

    QTest::mouseClick(window.findChild<ZelLabel *>(QStringLiteral("about_btn")), Qt::LeftButton);
    if (auto *about = window.findChild<ZelAbout *>())
        ok &= save(about, folder.filePath(QStringLiteral("5_about.png")));
    else
        ok = false;

    menu->setCurrentRow(1);
    auto *history = window.findChild<HistoryTab *>();
    history->findChild<QPushButton *>(QStringLiteral("pre_btn"))->click();
    ok &= save(&window, folder.filePath(QStringLiteral("6_history_empty_day.png")));
    history->openDatePicker();
    if (auto *calendar = history->findChild<QCalendarWidget *>())
        ok &= save(calendar->window(), folder.filePath(QStringLiteral("7_history_calendar.png")));
    else
        ok = false;
    history->showLog(loggedBurn);
    if (auto *log = history->findChild<ZelLogDialog *>())
        ok &= save(log, folder.filePath(QStringLiteral("8_history_log.png")));
    else
        ok = false;
    return ok ? 0 : 1;
}
