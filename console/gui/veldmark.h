#pragma once
// The console's one window: the menu column on the left, one page per tab on
// the right, the about box, and the day's "main" log. Device changes and worker
// reports reach the burn page through it.

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

protected:
    // Refused while a board is being burned or restarting.
    void closeEvent(QCloseEvent *event) override;
    // Device changes and worker reports, where the system delivers them as
    // window messages (veldmark_platform_*.cpp).
    bool nativeEvent(const QByteArray &eventType, void *message, long *result) override;

private:
    // Device changes and worker reports reach the burn page's handlers
    // (veldmark_platform_*.cpp).
    void listenToBoardsAndWorkers();
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
