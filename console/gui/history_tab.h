#pragma once
// The burn history page: one day's burns as a table, day by day or picked in a
// calendar that marks the days with records; each burn's log and its deletion;
// and the export of the shown day, or of all days, as a CSV file.

#include "zel_tab.h"

#include <QDate>

#include <functional>

class HistoryDayModel;
struct HistoryRecord;
class QLabel;
class QPushButton;
class QTableView;
class QThread;
class QTimer;
class ZelCalendar;
class ZelDialog;
class ZelLogDialog;

class HistoryTab : public ZelTab
{
    Q_OBJECT
public:
    static constexpr int kReadRetryMs = 2000;

    // today answers the local date at each use; tests pass a fixed day.
    explicit HistoryTab(QWidget *parent = nullptr,
                        std::function<QDate()> today = &QDate::currentDate);
    ~HistoryTab() override;

    // Opens the burn's log in the log dialog, or says that the log is gone.
    void showLog(int id);
    void showLogOf(const HistoryRecord &record);
    // Deletes the burn's row and then its log file.
    void deleteRecord(int id);
    void openDatePicker();
    // Starts writing the shown day's burns, or every burn, earliest first, as
    // CSV to path on a thread of its own; exportFinished says how it went.
    // False when an export runs already.
    bool startExport(const QString &path, bool allDays);

signals:
    void exportFinished(bool written);

public slots:
    void refresh();
    // A burn just recorded: its row is put in when its day is shown.
    void addRecord(const HistoryRecord &record);
    // A burn has ended: show the newest row when today is shown.
    void onBurnResult();

private:
    QWidget *newDateBar();
    QPushButton *newExportButton();
    void showDay(const QDate &date);
    void pickDate();
    void chooseExportFile(bool allDays);
    void onExportFinished(bool written);
    void onRowButton(int row, int button);
    void showReadError(const QString &error);

    QDate m_minimumDate;
    QDate m_currentDate;
    HistoryDayModel *m_model;
    QTableView *m_table;
    QLabel *m_readNotice;
    QTimer *m_readRetry;
    QPushButton *m_previousButton;
    QPushButton *m_dateButton;
    QPushButton *m_nextButton;
    QPushButton *m_exportButton = nullptr;
    QThread *m_export = nullptr;
    bool m_alertOnExport = false;
    ZelLogDialog *m_logDialog = nullptr;
    ZelDialog *m_dateDialog = nullptr;
    ZelCalendar *m_calendar = nullptr;
    std::function<QDate()> m_today;
};
