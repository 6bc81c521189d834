#pragma once
// The console's one window: the menu column on the left, one page per tab on
// the right, the about box, and the day's "main" log.

#include <QWidget>

class BurnTab;
class HistoryTab;
class Logger;
class ManualTab;
class QListWidget;
class QStackedLayout;
class SettingTab;
class ZelAbout;
class ZelTab;

class Veldmark : public QWidget
{
    Q_OBJECT
public:
    explicit Veldmark(QWidget *parent = nullptr);
    ~Veldmark() override;

    // Highlights menu row and shows its page.
    void selectTab(int row);

private:
    void addTab(ZelTab *tab);
    void showAbout();

    QListWidget *m_leftMenu;
    QStackedLayout *m_pages;
    QWidget *m_rightContent;
    BurnTab *m_burnTab;
    HistoryTab *m_historyTab;
    ManualTab *m_manualTab;
    SettingTab *m_settingTab;
    Logger *m_logger;
    ZelAbout *m_about = nullptr;
};
