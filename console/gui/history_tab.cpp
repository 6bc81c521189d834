#include "history_tab.h"

#include "burn_log.h"
#include "burn_trace.h"
#include "history_button_delegate.h"
#include "history_cell_delegate.h"
#include "history_day_model.h"
#include "history_database.h"
#include "history_export.h"
#include "history_table_view.h"
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
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

static const char kDateFormat[] = "yyyy-MM-dd";

HistoryTab::HistoryTab(QWidget *parent, std::function<QDate()> today)
    : ZelTab(parent), m_model(new HistoryDayModel(this)), m_table(new HistoryTableView),
      m_readNotice(new QLabel(this)), m_readRetry(new QTimer(this)),
      m_previousButton(new QPushButton),
      m_dateButton(new QPushButton), m_nextButton(new QPushButton), m_today(std::move(today))
{
    setObjectName(QStringLiteral("history_tab"));
    createMenuEntry(QStringLiteral("烧写历史"), FontAwesome::History);
    connect(this, &HistoryTab::exportFinished, this, &HistoryTab::onExportFinished);

    m_minimumDate = m_currentDate = m_today();
    // Computed once: later inserts and deletions do not move the earliest day.
    const QList<QDate> dates = HistoryDatabase::instance()->historyDates();
    if (!dates.isEmpty())
        m_minimumDate = dates.first();

    m_table->setObjectName(QStringLiteral("burn_history"));
    m_table->setModel(m_model);
    m_table->setItemDelegate(new HistoryCellDelegate(m_table));
    auto *buttons = new HistoryButtonDelegate(m_table);
    m_table->setItemDelegateForColumn(HistoryDayModel::ButtonColumn, buttons);
    connect(buttons, &HistoryButtonDelegate::clicked, this, &HistoryTab::onRowButton);
    QHeaderView *header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Stretch);
    for (int column = 0; column < HistoryDayModel::ColumnCount; ++column) {
        if (column != HistoryDayModel::ImageColumn && column != HistoryDayModel::StartColumn)
            header->setSectionResizeMode(column, QHeaderView::Interactive);
    }
    // A serial number is read whole or not at all.
    header->setSectionResizeMode(HistoryDayModel::TraceColumn, QHeaderView::ResizeToContents);
    // Every row is as high as the buttons; measuring each row would read the whole day.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(
        buttons->sizeHint(QStyleOptionViewItem(), QModelIndex()).height());
    header->setHighlightSections(false);
    m_table->setColumnHidden(HistoryDayModel::IdColumn, true);
    m_table->verticalHeader()->setVisible(false);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setAlternatingRowColors(true);

    // A day the database would not give (another program locks it) is said,
    // and read again shortly, rather than shown as a day without burns.
    m_readNotice->setObjectName(QStringLiteral("history_read_notice"));
    m_readNotice->setWordWrap(true);
    m_readNotice->setStyleSheet(QStringLiteral("color: #de4745; font-weight: bold;"));
    m_readNotice->hide();
    m_readRetry->setSingleShot(true);
    m_readRetry->setInterval(kReadRetryMs);
    connect(m_readRetry, &QTimer::timeout, this, &HistoryTab::refresh);
    connect(m_model, &HistoryDayModel::readFailed, this, &HistoryTab::showReadError);

    QWidget *dateBar = newDateBar();
    refresh();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_readNotice);
    layout->addWidget(m_table, 1);
    layout->addWidget(dateBar);
}

HistoryTab::~HistoryTab()
{
    // The file the operator asked for is written whole before the page goes.
    if (m_export) {
        m_export->wait();
        delete m_export;
    }
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
    m_exportButton = exportButton;

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
    m_dateButton->setText(m_currentDate.toString(QLatin1String(kDateFormat)));
    m_model->setDay(m_currentDate);
    if (m_model->readError().isEmpty()) {
        m_readRetry->stop();
        m_readNotice->hide();
    }
    m_previousButton->setEnabled(m_currentDate > m_minimumDate);
    m_nextButton->setEnabled(m_currentDate < m_today());
}

void HistoryTab::showReadError(const QString &error)
{
    m_readNotice->setText(
        QStringLiteral("烧写历史暂时无法读取（%1），稍后自动重试").arg(error));
    m_readNotice->show();
    m_readRetry->start();
}

void HistoryTab::addRecord(const HistoryRecord &record)
{
    m_model->addRecord(record);
}

void HistoryTab::onBurnResult()
{
    if (m_currentDate == m_today())
        m_table->scrollToTop();
}

void HistoryTab::onRowButton(int row, int button)
{
    const HistoryRecord record = m_model->record(row);
    if (button == HistoryButtonDelegate::LogButton)
        showLogOf(record);
    else
        deleteRecord(record.id);
}

void HistoryTab::showLog(int id)
{
    QList<HistoryRecord> found{HistoryDatabase::instance()->historyById(id)};
    if (found.first().id < 0)
        return;
    TraceStore::instance()->attachTraces(found);
    showLogOf(found.first());
}

// A row kept aside while the database refused it has no id yet; its log is
// found from its port and start all the same.
void HistoryTab::showLogOf(const HistoryRecord &record)
{
    if (!m_logDialog) {
        m_logDialog = new ZelLogDialog(this);
        m_logDialog->setMinimumSize(800, 400);
    }
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

bool HistoryTab::startExport(const QString &path, bool allDays)
{
    if (m_export)
        return false;
    const QString day = allDays ? QString() : m_currentDate.toString(QLatin1String(kDateFormat));
    const QString database = HistoryDatabase::instance()->fileName();
    auto written = std::make_shared<bool>(false);
    m_export = QThread::create(
        [database, day, path, written] { *written = exportHistoryFile(database, day, path); });
    connect(m_export, &QThread::finished, this, [this, written] {
        m_export->deleteLater();
        m_export = nullptr;
        m_exportButton->setEnabled(true);
        emit exportFinished(*written);
    });
    m_exportButton->setEnabled(false);
    m_export->start();
    return true;
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
    m_alertOnExport = startExport(dialog.selectedFiles().first(), allDays);
}

void HistoryTab::onExportFinished(bool written)
{
    if (!m_alertOnExport)
        return;
    m_alertOnExport = false;
    ZelDialog::alert(this, written ? QStringLiteral("导出成功") : QStringLiteral("导出失败"),
                     false);
}
