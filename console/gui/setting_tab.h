#pragma once
// The settings page: grid size and columns (used at the next start), window or
// full screen, the update check, counter reset, clearing the burn history of a
// period with its burn logs, clearing the port bindings, the feedback link, and
// a restart that the burn in progress can refuse.

#include "zel_tab.h"

#include <QDate>

#include <functional>

class QButtonGroup;
class ZelComboBox;
class ZelVersionTool;

class SettingTab : public ZelTab
{
    Q_OBJECT
public:
    // today answers the local date at each use; tests pass a fixed day.
    explicit SettingTab(QWidget *parent = nullptr,
                        std::function<QDate()> today = &QDate::currentDate);

    // How to learn whether a board is being burned or restarting; the main
    // window wires it to the burn page. Without it no burn is assumed.
    void setBurnRunningCheck(std::function<bool()> isBurnRunning);
    // How the counters are reset (by default in the settings file directly);
    // answers whether the file took it.
    void setCounterReset(std::function<bool()> resetCounters);

signals:
    void statisticReseted();
    void clearHistory();
    void clearMapping();

public slots:
    void restartApplication();

private:
    QWidget *newRadioRow(QButtonGroup *group, const QStringList &texts, const QList<int> &xs,
                         int fixedWidth);
    QWidget *newHistoryRow();
    QWidget *newFeedbackLink();
    void saveGridValue(bool written);
    void setWindowMode(int id);
    void checkVersion();
    void resetStatistic();
    void clearBurnHistory();
    void clearBindings();

    QButtonGroup *m_slotCountGroup;
    QButtonGroup *m_columnCountGroup;
    QButtonGroup *m_windowModeGroup;
    ZelComboBox *m_periodBox;
    ZelVersionTool *m_versionTool = nullptr;
    std::function<QDate()> m_today;
    std::function<bool()> m_isBurnRunning;
    std::function<bool()> m_resetCounters;
};
