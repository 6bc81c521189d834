#pragma once
// The burn history page: one day's burns as a table, day by day or picked in a
// calendar that marks the days with records; each burn's log and its deletion;
// and the export of the shown day, or of all days, as a CSV file.

#include "zel_tab.h"

#include <QDate>

#include <functional>

struct HistoryRecord;
class QPushButton;
class QTableWidget;
class ZelCalendar;
class ZelDialog;
class ZelLogDialog;

class HistoryTab : public ZelTab
{
    Q_OBJECT
public:
    // today answers the local date at each use; tests pass a fixed day.
    explicit HistoryTab(QWidget *parent = nullptr,
                        std::function<QDate()> today = &QDate::currentDate);

    void setRow(int row, const HistoryRecord &record);
    // Opens the burn's log in the log dialog, or says that the log is gone.
    void showLog(int id);
    // Deletes the burn's row and then its log file.
    void deleteRecord(int id);
    void openDatePicker();
    // Writes the shown day's burns, or every burn, earliest first, as CSV to path.
    bool exportHistory(const QString &path, bool allDays);

public slots:
    void refresh();
    // A burn has ended: reload, and show the newest row when today is shown.
    void onBurnResult();

private:
    QWidget *newDateBar();
    QPushButton *newExportButton();
    void showDay(const QDate &date);
    void pickDate();
    void chooseExportFile(bool allDays);

    QDate m_minimumDate;
    QDate m_currentDate;
    QTableWidget *m_table;
    QPushButton *m_previousButton;
    QPushButton *m_dateButton;
    QPushButton *m_nextButton;
    ZelLogDialog *m_logDialog = nullptr;
    ZelDialog *m_dateDialog = nullptr;
    ZelCalendar *m_calendar = nullptr;
    std::function<QDate()> m_today;
};
