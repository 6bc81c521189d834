#include "tst_history_tab.h"

#include "console_resources.h"
#include "history_cell_delegate.h"
#include "history_database.h"
#include "history_day_model.h"
#include "history_tab.h"
#include "history_table_view.h"
#include "tab_test_support.h"
#include "trace_store.h"
#include "zel_calendar.h"
#include "zel_dialog.h"
#include "zel_log_dialog.h"

#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTextBlock>

namespace
{
struct Page {
    HistoryTab tab{nullptr, &testToday};
    QTableView *table = tab.findChild<QTableView *>(QStringLiteral("burn_history"));
    QPushButton *previous = tab.findChild<QPushButton *>(QStringLiteral("pre_btn"));
    QPushButton *date = tab.findChild<QPushButton *>(QStringLiteral("date_btn"));
    QPushButton *next = tab.findChild<QPushButton *>(QStringLiteral("next_btn"));

    QString cell(int row, int column) const { return at(row, column).data().toString(); }
    QModelIndex at(int row, int column) const { return table->model()->index(row, column); }
    int rows() const { return table->model()->rowCount(); }
};

QString logPathOf(const QString &port, const QDateTime &begin)
{
    QString board = port;
    board.replace(QLatin1Char(':'), QLatin1Char('#'));
    return QStringLiteral("%1/%2/%3.log")
        .arg(begin.date().toString(QStringLiteral("yyyy-MM-dd")), board)
        .arg(begin.toSecsSinceEpoch());
}
} // namespace

void TestHistoryTab::init()
{
    makeHistoryDeletesFail(false);
    clearHistoryAndLogs();
}

void TestHistoryTab::emptyDatabaseAllowsOnlyToday()
{
    Page page;
    QCOMPARE(page.date->text(), QStringLiteral("2024-05-06"));
    QCOMPARE(page.rows(), 0);
    QVERIFY(!page.previous->isEnabled());
    QVERIFY(!page.next->isEnabled());

    page.tab.openDatePicker();
    auto *calendar = page.tab.findChild<ZelCalendar *>();
    QVERIFY(calendar);
    QCOMPARE(calendar->minimumDate(), testToday());
    QCOMPARE(calendar->maximumDate(), testToday());
    QVERIFY(calendar->showDates().isEmpty());
    QVERIFY(calendar->window()->isVisible());
    // Opening the picker is no pick.
    QCOMPARE(page.date->text(), QStringLiteral("2024-05-06"));
}

void TestHistoryTab::walksBackDayByDayToTheEarliestRecordAndPicksDaysInTheCalendar()
{
    insertBurn(QStringLiteral("1:2"), QStringLiteral("a.img"), dayTime(5, 9, 0), 30, true);
    insertBurn(QStringLiteral("1:3"), QStringLiteral("b.img"), dayTime(5, 15, 30), 45, false);
    Page page;
    QVERIFY(page.previous->isEnabled());
    QVERIFY(!page.next->isEnabled());

    for (const char *day : {"2024-05-05", "2024-05-04", "2024-05-03", "2024-05-02"}) {
        page.previous->click();
        QCOMPARE(page.date->text(), QLatin1String(day));
        QCOMPARE(page.rows(), 0);
        QVERIFY(page.previous->isEnabled());
        QVERIFY(page.next->isEnabled());
    }
    page.previous->click();
    QCOMPARE(page.date->text(), QStringLiteral("2024-05-01"));
    QVERIFY(!page.previous->isEnabled());
    QCOMPARE(page.rows(), 2);
    // Latest start first, every column as the operator reads it.
    QCOMPARE(page.cell(0, 1), QStringLiteral("1:3"));
    QCOMPARE(page.cell(0, 2), QStringLiteral("b.img"));
    QCOMPARE(page.cell(0, 3), QStringLiteral("2024-05-01 15:30:00"));
    QCOMPARE(page.cell(0, 4), QStringLiteral("45"));
    QCOMPARE(page.cell(0, 5), QStringLiteral("失败"));
    QCOMPARE(page.at(0, 5).data(Qt::ForegroundRole).value<QColor>(), QColor(0xde, 0x47, 0x45));
    QCOMPARE(page.cell(1, 5), QStringLiteral("成功"));
    QCOMPARE(page.at(1, 5).data(Qt::ForegroundRole).value<QColor>(), QColor(0x09, 0x98, 0x3b));
    QVERIFY(page.table->isColumnHidden(0));

    page.tab.openDatePicker();
    auto *calendar = page.tab.findChild<ZelCalendar *>();
    QCOMPARE(calendar->minimumDate(), QDate(2024, 5, 1));
    QCOMPARE(calendar->maximumDate(), testToday());
    QCOMPARE(calendar->showDates(), QList<QDate>{QDate(2024, 5, 1)});
    QCOMPARE(calendar->selectedDate(), QDate(2024, 5, 1));
    calendar->setSelectedDate(QDate(2024, 5, 3));
    QCOMPARE(page.date->text(), QStringLiteral("2024-05-03"));
    QCOMPARE(page.rows(), 0);
    QVERIFY(!calendar->window()->isVisible());
    // Days after today cannot be picked.
    page.tab.openDatePicker();
    calendar->setSelectedDate(QDate(2024, 5, 9));
    QCOMPARE(page.date->text(), QStringLiteral("2024-05-06"));
    QVERIFY(!page.next->isEnabled());
    QCOMPARE(page.tab.findChildren<ZelCalendar *>().size(), 1);
}

void TestHistoryTab::burnResultAddsOneRowInPlaceWhileTheDayIsReadAsItScrolls()
{
    insertBurn(QStringLiteral("2:1"), QStringLiteral("old.img"), dayTime(1, 12), 10, true);
    // More than one page of today's burns, one a minute from 08:00.
    const int stored = HistoryDayModel::kPageRows + 50;
    for (int i = 0; i < stored; ++i)
        HistoryDatabase::instance()->insertHistory(QStringLiteral("1:%1").arg(i % 16 + 1),
                                                   QStringLiteral("a.img"),
                                                   dayTime(0, 8).addSecs(60 * i).toSecsSinceEpoch(),
                                                   30, true);
    Page page;
    page.tab.resize(800, 300);
    page.tab.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page.tab));
    QVERIFY(page.rows() < stored);

    auto result = [](const QString &image, const QDateTime &begin) {
        HistoryRecord record;
        record.usbPort = QStringLiteral("3:1");
        record.imageFile = image;
        record.beginTime = begin;
        record.usedSeconds = 12;
        record.result = 1;
        record.id = HistoryDatabase::instance()->insertHistory(
            record.usbPort, image, begin.toSecsSinceEpoch(), 12, true);
        return record;
    };
    // Another day shown: nothing moves.
    page.previous->click();
    page.tab.addRecord(result(QStringLiteral("while-away.img"), dayTime(0, 7)));
    page.tab.onBurnResult();
    QCOMPARE(page.rows(), 1);
    QCOMPARE(page.cell(0, 2), QStringLiteral("old.img"));

    page.next->click();
    const int loaded = page.rows();
    QScrollBar *scroll = page.table->verticalScrollBar();
    scroll->setValue(scroll->maximum() / 2);
    // A burn that started between two shown rows finishes last: it goes to its place.
    page.tab.addRecord(result(QStringLiteral("between.img"), dayTime(0, 8).addSecs(60 * 240 + 30)));
    QCOMPARE(page.rows(), loaded + 1);
    QCOMPARE(page.cell(stored - 1 - 240, 2), QStringLiteral("between.img"));
    page.tab.addRecord(result(QStringLiteral("newest.img"), dayTime(0, 23)));
    page.tab.onBurnResult();
    QCOMPARE(page.cell(0, 2), QStringLiteral("newest.img"));
    QCOMPARE(scroll->value(), 0);

    // Scrolled to the end, the rest of the day comes, each burn once and in order.
    while (page.table->model()->canFetchMore(QModelIndex()))
        page.table->model()->fetchMore(QModelIndex());
    QCOMPARE(page.rows(), stored + 3);
    for (int row = 1; row < page.rows(); ++row)
        QVERIFY(page.cell(row - 1, 3) >= page.cell(row, 3));
    QCOMPARE(page.cell(page.rows() - 1, 2), QStringLiteral("while-away.img"));
}

void TestHistoryTab::logOpensWithEachLineAtTheLevelOfItsLeadingTag()
{
    const QDateTime begin = dayTime(0, 10);
    BurnTrace trace;
    trace.historyId = insertBurn(QStringLiteral("1:2:4"), QStringLiteral("a.img"), begin, 30, false);
    trace.boardTrace = QByteArray("\x01\xfe", 2);
    QVERIFY(TraceStore::instance()->record(trace) > 0);
    const QString relative = logPathOf(QStringLiteral("1:2:4"), begin);
    QCOMPARE(relative, QStringLiteral("2024-05-06/1#2#4/%1.log").arg(begin.toSecsSinceEpoch()));
    const struct {
        const char *line;
        QtMsgType level;
    } lines[] = {
        {"[error] [2024-05-06 10:00:01] CRC mismatch", QtCriticalMsg},
        {"[fatal] [2024-05-06 10:00:02] out of memory", QtCriticalMsg},
        {"[warn ] [2024-05-06 10:00:03] board slow", QtWarningMsg},
        {"[info ] [2024-05-06 10:00:04] stage done", QtDebugMsg},
        {"board said [error] later in the line", QtDebugMsg},
        {"[ERROR] other case", QtDebugMsg},
    };
    QByteArray text;
    for (const auto &line : lines)
        text += QByteArray(line.line) + '\n';
    writeTextFile(QStringLiteral("log/") + relative, text);

    Page page;
    clickRowButton(page.table, 0, 0);
    auto *dialog = page.tab.findChild<ZelLogDialog *>();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    // The board's own identity beside the log's name, in hex when it is not text.
    QCOMPARE(dialog->title(), relative + QStringLiteral("  板卡 0x01fe"));
    QCOMPARE(dialog->logFilePath(),
             QDir::current().absoluteFilePath(QStringLiteral("log/") + relative));
    QTextBlock block = dialog->findChild<QPlainTextEdit *>()->document()->firstBlock();
    for (const auto &line : lines) {
        QVERIFY(block.isValid());
        QCOMPARE(block.text(), QString::fromUtf8(line.line));
        QCOMPARE(block.begin().fragment().charFormat().foreground().color(),
                 ZelLogDialog::levelColor(line.level));
        block = block.next();
    }
    QVERIFY(!block.isValid());
}

void TestHistoryTab::missingOrEmptyLogIsReportedAndLeavesTheOpenLogAsItWas()
{
    const QDateTime shown = dayTime(0, 9);
    insertBurn(QStringLiteral("1:1"), QStringLiteral("shown.img"), shown, 5, true);
    writeTextFile(QStringLiteral("log/") + logPathOf(QStringLiteral("1:1"), shown),
                  "[info ] [2024-05-06 09:00:00] fine\n");
    const QDateTime empty = dayTime(0, 10);
    insertBurn(QStringLiteral("1:2"), QStringLiteral("empty.img"), empty, 5, true);
    writeTextFile(QStringLiteral("log/") + logPathOf(QStringLiteral("1:2"), empty), "");
    insertBurn(QStringLiteral("1:3"), QStringLiteral("missing.img"), dayTime(0, 11), 5, true);

    Page page;
    QCOMPARE(page.cell(2, 2), QStringLiteral("shown.img"));
    clickRowButton(page.table, 2, 0);
    auto *dialog = page.tab.findChild<ZelLogDialog *>();
    QVERIFY(dialog->isVisible());

    for (int row : {0, 1}) {
        QCOMPARE(alertTextOf([&] { clickRowButton(page.table, row, 0); }),
                 QStringLiteral("日志文件不存在或已被删除"));
        QCOMPARE(dialog->title(), logPathOf(QStringLiteral("1:1"), shown));
        QCOMPARE(dialog->findChild<QPlainTextEdit *>()->toPlainText(),
                 QStringLiteral("[info ] [2024-05-06 09:00:00] fine"));
    }
}

void TestHistoryTab::deleteRemovesRowAndLogAndKeepsBothWhenTheRowCannotGo()
{
    const QDateTime logged = dayTime(0, 9);
    const int loggedId =
        insertBurn(QStringLiteral("1:1"), QStringLiteral("logged.img"), logged, 5, true);
    const QString loggedLog = QStringLiteral("log/") + logPathOf(QStringLiteral("1:1"), logged);
    writeTextFile(loggedLog, "[info ] done\n");
    const int unloggedId =
        insertBurn(QStringLiteral("1:2"), QStringLiteral("unlogged.img"), dayTime(0, 10), 5, true);
    const QDateTime kept = dayTime(0, 11);
    insertBurn(QStringLiteral("1:3"), QStringLiteral("kept.img"), kept, 5, true);
    const QString keptLog = QStringLiteral("log/") + logPathOf(QStringLiteral("1:3"), kept);
    writeTextFile(keptLog, "[info ] done\n");

    Page page;
    QCOMPARE(page.cell(2, 2), QStringLiteral("logged.img"));
    clickRowButton(page.table, 2, 1);
    QCOMPARE(page.rows(), 2);
    QCOMPARE(HistoryDatabase::instance()->historyById(loggedId).id, -1);
    QVERIFY(!QFile::exists(loggedLog));

    // A burn whose log is already gone is still deleted.
    QCOMPARE(page.cell(1, 2), QStringLiteral("unlogged.img"));
    clickRowButton(page.table, 1, 1);
    QCOMPARE(page.rows(), 1);
    QCOMPARE(HistoryDatabase::instance()->historyById(unloggedId).id, -1);

    makeHistoryDeletesFail(true);
    QCOMPARE(alertTextOf([&] { clickRowButton(page.table, 0, 1); }),
             QStringLiteral("删除失败：无法修改历史数据库"));
    QCOMPARE(page.rows(), 1);
    QVERIFY(QFile::exists(keptLog));
}

void TestHistoryTab::exportWritesTheShownDayOrAllDaysAsCsv()
{
    const QDateTime early = dayTime(5, 8, 15);
    const QDateTime first = dayTime(0, 9, 5);
    const QDateTime second = dayTime(0, 14, 45);
    insertBurn(QStringLiteral("1:2"), QStringLiteral("old.img"), early, 30, true);
    // Commas and quotes are quoted; a name that starts like a formula stays text.
    insertBurn(QStringLiteral("1:3"), QStringLiteral("=SUM(1,2) \"x\".img"), second, 71, false);
    BurnTrace trace;
    trace.historyId = insertBurn(QStringLiteral("1:4"), QStringLiteral("固件.img"), first, 45, true);
    trace.boardTrace = "SN-0042";
    QVERIFY(TraceStore::instance()->record(trace) > 0);

    const QString log =
        QDir::toNativeSeparators(QDir::current().absoluteFilePath(QStringLiteral("log"))) +
        QDir::separator();
    auto line = [&](const QString &port, const QString &image, const QDateTime &begin, int used,
                    const QString &result, const QString &board = QString()) {
        return QStringLiteral("%1,%2,%3,%4,%5,%6,%7\r\n")
            .arg(port, image, begin.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")))
            .arg(used)
            .arg(result, log + QDir::toNativeSeparators(logPathOf(port, begin)), board)
            .toUtf8();
    };
    const QByteArray header =
        QByteArray("\xEF\xBB\xBF") +
        QStringLiteral("USB端口,镜像名称,开始时间,耗时（秒）,结果,日志文件,板卡标识\r\n").toUtf8();
    const QByteArray today =
        line(QStringLiteral("1:4"), QStringLiteral("固件.img"), first, 45, QStringLiteral("成功"),
             QStringLiteral("SN-0042")) +
        line(QStringLiteral("1:3"), QStringLiteral("\"'=SUM(1,2) \"\"x\"\".img\""), second, 71,
             QStringLiteral("失败"));

    Page page;
    QCOMPARE(page.cell(1, 6), QStringLiteral("SN-0042"));
    QCOMPARE(page.cell(0, 6), QString());
    auto *button = page.tab.findChild<QPushButton *>(QStringLiteral("export_btn"));
    // The export runs on a thread of its own, one at a time: its button and a
    // second start wait for it; its result comes as a signal.
    const auto exported = [&page, button](const QString &path, bool allDays) {
        QSignalSpy finished(&page.tab, &HistoryTab::exportFinished);
        if (!page.tab.startExport(path, allDays) || button->isEnabled() ||
            page.tab.startExport(QStringLiteral("second.csv"), allDays) ||
            !finished.wait(10000) || !button->isEnabled() || QFile::exists("second.csv"))
            return false;
        return finished.first().first().toBool();
    };
    QVERIFY(exported(QStringLiteral("day.csv"), false));
    QCOMPARE(readFile(QStringLiteral("day.csv")), header + today);
    QVERIFY(exported(QStringLiteral("all.csv"), true));
    QCOMPARE(readFile(QStringLiteral("all.csv")),
             header +
                 line(QStringLiteral("1:2"), QStringLiteral("old.img"), early, 30,
                      QStringLiteral("成功")) +
                 today);
    QSignalSpy failed(&page.tab, &HistoryTab::exportFinished);
    QVERIFY(page.tab.startExport(QStringLiteral("no/such/folder/x.csv"), true));
    QVERIFY(failed.wait(10000));
    QCOMPARE(failed.first().first().toBool(), false);
}

void TestHistoryTab::aLockedDatabaseIsStillReadAndARefusedReadIsSaidAndRetried()
{
    insertBurn(QStringLiteral("1:1"), QStringLiteral("a.img"), dayTime(0, 9), 5, true);
    insertBurn(QStringLiteral("1:2"), QStringLiteral("b.img"), dayTime(0, 10), 5, true);
    // The console waits for a lock briefly, never for seconds.
    QSqlQuery timeout;
    QVERIFY(timeout.exec(QStringLiteral("PRAGMA busy_timeout")) && timeout.next());
    QVERIFY(timeout.value(0).toInt() <= 50);
    {
        QSqlDatabase other =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("backup_tool"));
        other.setDatabaseName(HistoryDatabase::instance()->fileName());
        QVERIFY(other.open());
        QSqlQuery tool(other);
        // Another program holds the write lock: the day is read all the same.
        QVERIFY(tool.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QVERIFY(tool.exec(QStringLiteral("DELETE FROM T_HISTORY WHERE usb_port = '1:1'")));
        {
            Page page;
            QCOMPARE(page.rows(), 2);
            QVERIFY(page.tab.findChild<QLabel *>(QStringLiteral("history_read_notice"))->isHidden());
        }
        QVERIFY(tool.exec(QStringLiteral("ROLLBACK")));

        // A read refused (here the table is renamed away) is said, not shown as an empty day.
        QVERIFY(tool.exec(QStringLiteral("ALTER TABLE T_HISTORY RENAME TO T_ASIDE")));
        Page page;
        auto *notice = page.tab.findChild<QLabel *>(QStringLiteral("history_read_notice"));
        QCOMPARE(page.rows(), 0);
        QVERIFY(!notice->isHidden());
        QVERIFY2(notice->text().contains(QStringLiteral("no such table")),
                 qPrintable(notice->text()));
        QVERIFY(tool.exec(QStringLiteral("ALTER TABLE T_ASIDE RENAME TO T_HISTORY")));
        other.close();
        // Read again by itself: no day switch needed.
        QTRY_COMPARE_WITH_TIMEOUT(page.rows(), 2, HistoryTab::kReadRetryMs * 3);
        QVERIFY(notice->isHidden());
        QCOMPARE(page.cell(0, 2), QStringLiteral("b.img"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("backup_tool"));
}

// The history view draws its grid itself and its cells from pictures it
// keeps, for speed: it must look exactly as Qt's own table, with hidden rows
// and columns, a selected row, coloured text, scrolled, short, and when it
// draws from its pictures.
void TestHistoryTab::theTableIsDrawnPixelForPixelAsQtDrawsIt()
{
    QStandardItemModel model(40, 5);
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int column = 0; column < model.columnCount(); ++column)
            model.setItem(row, column, new QStandardItem(QStringLiteral("%1:%2").arg(row).arg(column)));
        model.item(row, 2)->setForeground(QColor(row % 2 ? "#09983b" : "#de4745"));
    }
    QTableView reference;
    HistoryTableView drawn;
    drawn.setItemDelegate(new HistoryCellDelegate(&drawn));
    for (QTableView *view : {&reference, static_cast<QTableView *>(&drawn)}) {
        view->setObjectName(QStringLiteral("burn_history"));
        view->setStyleSheet(consoleStyleSheet());
        view->setModel(&model);
        view->setAlternatingRowColors(true);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setColumnHidden(1, true);
        view->setRowHidden(3, true);
        view->verticalHeader()->setVisible(false);
        view->selectRow(5);
        view->resize(400, 300);
    }
    const auto same = [&](const char *what) {
        for (int paint = 0; paint < 2; ++paint) {
            const QImage expected = reference.grab().toImage();
            const QImage actual = drawn.grab().toImage();
            QVERIFY2(expected == actual, what);
        }
    };
    same("top of the table");
    for (QTableView *view : {&reference, static_cast<QTableView *>(&drawn)}) {
        view->verticalScrollBar()->setValue(7);
        view->horizontalScrollBar()->setValue(20);
    }
    same("scrolled");
    model.setRowCount(4);
    same("fewer rows than the view holds");
}
