#include "history_tab.h"

#include "burn_log.h"
#include "history_csv.h"
#include "history_database.h"
#include "log_files.h"
#include "trace_store.h"
#include "zel_button.h"
#include "zel_calendar.h"
#include "zel_dialog.h"
#include "zel_log_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

static const char kDateFormat[] = "yyyy-MM-dd";

enum Column {
    IdColumn,
    PortColumn,
    ImageColumn,
    StartColumn,
    UsedColumn,
    ResultColumn,
    TraceColumn,
    ButtonColumn
};

HistoryTab::HistoryTab(QWidget *parent, std::function<QDate()> today)
    : ZelTab(parent), m_table(new QTableWidget(0, 8)), m_previousButton(new QPushButton),
      m_dateButton(new QPushButton), m_nextButton(new QPushButton), m_today(std::move(today))
{
    setObjectName(QStringLiteral("history_tab"));
    createMenuEntry(QStringLiteral("烧写历史"), FontAwesome::History);

    m_minimumDate = m_currentDate = m_today();
    // Computed once: later inserts and deletions do not move the earliest day.
    const QList<QDate> dates = HistoryDatabase::instance()->historyDates();
    if (!dates.isEmpty())
        m_minimumDate = dates.first();

    m_table->setObjectName(QStringLiteral("burn_history"));
    m_table->setHorizontalHeaderLabels({QString(), QStringLiteral("USB端口"),
                                        QStringLiteral("镜像名称"), QStringLiteral("开始时间"),
                                        QStringLiteral("耗时（秒）"), QStringLiteral("结果"),
                                        QStringLiteral("板卡标识"), QString()});
    QHeaderView *header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Stretch);
    for (int column : {IdColumn, PortColumn, UsedColumn, ResultColumn, ButtonColumn})
        header->setSectionResizeMode(column, QHeaderView::Interactive);
    // A serial number is read whole or not at all.
    header->setSectionResizeMode(TraceColumn, QHeaderView::ResizeToContents);
    header->setHighlightSections(false);
    m_table->setColumnHidden(IdColumn, true);
    m_table->verticalHeader()->setVisible(false);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setAlternatingRowColors(true);

    QWidget *dateBar = newDateBar();
    refresh();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_table, 1);
    layout->addWidget(dateBar);
}

QWidget *HistoryTab::newDateBar()
{
    auto *bar = new QWidget;
    bar->setObjectName(QStringLiteral("date_ctrl"));
    m_previousButton->setObjectName(QStringLiteral("pre_btn"));
    m_previousButton->setText(QStringLiteral("前一天"));
    m_dateButton->setObjectName(QStringLiteral("date_btn"));
    m_nextButton->setObjectName(QStringLiteral("next_btn"));
    m_nextButton->setText(QStringLiteral("后一天"));
    for (QPushButton *button : {m_previousButton, m_nextButton})
        button->setProperty("class", QStringLiteral("ctrl"));
    for (QPushButton *button : {m_previousButton, m_dateButton, m_nextButton})
        button->setCursor(Qt::PointingHandCursor);
    QPushButton *exportButton = newExportButton();

    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(5, 5, 5, 5);
    layout->setSpacing(0);
    // As wide as the export button on the right, so the day buttons stay centred.
    layout->addSpacing(exportButton->sizeHint().width());
    layout->addWidget(new QWidget, 1);
    layout->addWidget(m_previousButton);
    layout->addWidget(m_dateButton);
    layout->addWidget(m_nextButton);
    layout->addWidget(new QWidget, 1);
    layout->addWidget(exportButton);

    connect(m_previousButton, &QPushButton::clicked, this,
            [this] { showDay(m_currentDate.addDays(-1)); });
    connect(m_dateButton, &QPushButton::clicked, this, &HistoryTab::openDatePicker);
    connect(m_nextButton, &QPushButton::clicked, this,
            [this] { showDay(m_currentDate.addDays(1)); });
    return bar;
}

QPushButton *HistoryTab::newExportButton()
{
    auto *button = new ZelButton(QStringLiteral("导出"));
    button->setObjectName(QStringLiteral("export_btn"));
    auto *menu = new QMenu(button);
    menu->addAction(QStringLiteral("导出当天"), this, [this] { chooseExportFile(false); });
    menu->addAction(QStringLiteral("导出所有"), this, [this] { chooseExportFile(true); });
    button->setMenu(menu);
    return button;
}

void HistoryTab::showDay(const QDate &date)
{
    m_currentDate = date;
    refresh();
}

void HistoryTab::refresh()
{
    const QString day = m_currentDate.toString(QLatin1String(kDateFormat));
    m_dateButton->setText(day);
    QList<HistoryRecord> records = HistoryDatabase::instance()->historyOfDate(day);
    TraceStore::instance()->attachTraces(records);
    // Emptied first, so no row or button of the day shown before survives.
    m_table->setRowCount(0);
    m_table->setRowCount(records.size());
    for (int row = 0; row < records.size(); ++row)
        setRow(row, records.at(row));
    m_table->sortItems(StartColumn, Qt::DescendingOrder);
    m_previousButton->setEnabled(m_currentDate > m_minimumDate);
    m_nextButton->setEnabled(m_currentDate < m_today());
}

void HistoryTab::onBurnResult()
{
    refresh();
    if (m_currentDate == m_today())
        m_table->verticalScrollBar()->setValue(0);
}

void HistoryTab::setRow(int row, const HistoryRecord &record)
{
    const bool success = record.result == 1;
    const QString texts[] = {
        QString::number(record.id),
        record.usbPort,
        record.imageFile,
        record.beginTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
        QString::number(record.usedSeconds),
        success ? QStringLiteral("成功") : QStringLiteral("失败"),
        traceText(record.boardTrace),
    };
    for (int column = IdColumn; column <= TraceColumn; ++column) {
        auto *item = new QTableWidgetItem(texts[column]);
        item->setTextAlignment(Qt::AlignCenter);
        if (column == ResultColumn)
            item->setForeground(QColor(success ? "#09983b" : "#de4745"));
        m_table->setItem(row, column, item);
    }

    auto *logButton = new ZelButton;
    auto *deleteButton = new ZelButton;
    FontAwesome::setButtonIcon(logButton, FontAwesome::FileText);
    FontAwesome::setButtonIcon(deleteButton, FontAwesome::TrashO);
    for (QPushButton *button : {logButton, deleteButton}) {
        button->setFixedWidth(30);
        button->setProperty("class", QStringLiteral("logBtn"));
    }
    // The id is taken now, so the buttons keep their burn when the table is sorted.
    const int id = record.id;
    connect(logButton, &QPushButton::clicked, this, [this, id] { showLog(id); });
    connect(deleteButton, &QPushButton::clicked, this, [this, id] { deleteRecord(id); });

    auto *cell = new QWidget;
    auto *layout = new QHBoxLayout(cell);
    layout->setContentsMargins(3, 3, 3, 3);
    layout->setSpacing(5);
    layout->addStretch();
    layout->addWidget(logButton);
    layout->addWidget(deleteButton);
    layout->addStretch();
    m_table->setCellWidget(row, ButtonColumn, cell);
}

void HistoryTab::showLog(int id)
{
    if (!m_logDialog) {
        m_logDialog = new ZelLogDialog(this);
        m_logDialog->setMinimumSize(800, 400);
    }
    QList<HistoryRecord> found{HistoryDatabase::instance()->historyById(id)};
    if (found.first().id < 0)
        return;
    TraceStore::instance()->attachTraces(found);
    const HistoryRecord &record = found.first();
    const QString path = burnLogPath(record);
    const QStringList lines = readLogFile(path);
    if (lines.isEmpty()) {
        ZelDialog::alert(this, QStringLiteral("日志文件不存在或已被删除"), false);
        return;
    }
    // Title and path change only with the text, so an open dialog never shows
    // one burn's log under another burn's name.
    m_logDialog->setTitle(record.boardTrace.isEmpty()
                              ? path
                              : path + QStringLiteral("  板卡 ") + traceText(record.boardTrace));
    m_logDialog->setLogFilePath(QDir(QStringLiteral("log")).absoluteFilePath(path));
    m_logDialog->clearLog();
    for (const QString &line : lines)
        m_logDialog->appendText(burnLogLineLevel(line), line, false);
    m_logDialog->show();
}

void HistoryTab::deleteRecord(int id)
{
    HistoryDatabase *database = HistoryDatabase::instance();
    const HistoryRecord record = database->historyById(id);
    if (record.id < 0)
        return;
    // The row goes first: a row that cannot be deleted keeps its log.
    if (database->deleteHistory(id) < 0) {
        ZelDialog::alert(this, QStringLiteral("删除失败：无法修改历史数据库"), false);
        return;
    }
    removeLogFile(burnLogPath(record));
    refresh();
}

void HistoryTab::openDatePicker()
{
    if (!m_dateDialog) {
        m_dateDialog = new ZelDialog(this, true);
        m_dateDialog->setFixedSize(400, 400);
        m_dateDialog->setTitle(QStringLiteral("日期选择"));
        m_calendar = new ZelCalendar;
        m_calendar->setMinimumDate(m_minimumDate);
        auto *layout = new QHBoxLayout;
        layout->setContentsMargins(2, 2, 2, 2);
        layout->addWidget(m_calendar);
        m_dateDialog->setContentLayout(layout);
        connect(m_calendar, &QCalendarWidget::selectionChanged, this, &HistoryTab::pickDate);
    }
    {
        // Moving the bounds can move the selection; that is no pick by the operator.
        const QSignalBlocker blocker(m_calendar);
        m_calendar->setMaximumDate(m_today());
        m_calendar->setSelectedDate(m_currentDate);
    }
    m_calendar->setShowDates(HistoryDatabase::instance()->historyDates());
    m_dateDialog->show();
}

void HistoryTab::pickDate()
{
    showDay(m_calendar->selectedDate());
    m_dateDialog->close();
}

bool HistoryTab::exportHistory(const QString &path, bool allDays)
{
    HistoryDatabase *database = HistoryDatabase::instance();
    QList<HistoryRecord> records;
    if (allDays) {
        records = database->allHistory();
    } else {
        records = database->historyOfDate(m_currentDate.toString(QLatin1String(kDateFormat)));
        std::reverse(records.begin(), records.end());
    }
    TraceStore::instance()->attachTraces(records);
    return writeHistoryCsv(path, records);
}

void HistoryTab::chooseExportFile(bool allDays)
{
    const QString name = allDays ? QStringLiteral("烧写历史_所有.csv")
                                 : QStringLiteral("烧写历史_%1.csv")
                                       .arg(m_currentDate.toString(QLatin1String(kDateFormat)));
    QFileDialog dialog(this, QStringLiteral("导出烧写历史"), QDir::home().filePath(name),
                       QStringLiteral("CSV 文件 (*.csv)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const bool written = exportHistory(dialog.selectedFiles().first(), allDays);
    ZelDialog::alert(this, written ? QStringLiteral("导出成功") : QStringLiteral("导出失败"),
                     false);
}
