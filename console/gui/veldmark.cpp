#include "veldmark.h"

#include "app_info.h"
#include "burn_tab.h"
#include "console_resources.h"
#include "history_tab.h"
#include "logger.h"
#include "manual_tab.h"
#include "setting_tab.h"
#include "upg_device.h"
#include "zel_about.h"
#include "zel_dialog.h"
#include "zel_label.h"
#include "zel_title_bar.h"

#include <QCloseEvent>
#include <QDebug>
#include <QHBoxLayout>
#include <QListWidget>
#include <QStackedLayout>
#include <QVBoxLayout>

Veldmark::Veldmark(QWidget *parent)
    : QWidget(parent), m_leftMenu(new QListWidget), m_pages(new QStackedLayout),
      m_rightContent(new QWidget)
{
    setWindowTitle(AppInfo::windowTitle());
    resize(1024, 600);
    setMinimumSize(1024, 600);

    m_logger = new Logger(QStringLiteral("main"));
    installLogMessageHandler();

    setStyleSheet(consoleStyleSheet());
    ZelTitleBar::setBarIcon(QIcon(QStringLiteral(":/image/veldmark.ico")));

    m_leftMenu->setObjectName(QStringLiteral("left_menu"));
    m_leftMenu->setFixedWidth(100);
    connect(m_leftMenu, &QListWidget::itemSelectionChanged, this,
            [this] { selectTab(m_leftMenu->currentRow()); });

    auto *aboutButton = new ZelLabel;
    aboutButton->setObjectName(QStringLiteral("about_btn"));
    aboutButton->setFixedSize(100, 55);
    aboutButton->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    aboutButton->setCursor(Qt::PointingHandCursor);
    FontAwesome::setLabelIcon(aboutButton, FontAwesome::QuestionCircleO);
    connect(aboutButton, &ZelLabel::clicked, this, &Veldmark::showAbout);

    auto *leftColumn = new QWidget;
    auto *leftLayout = new QVBoxLayout(leftColumn);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(0);
    leftLayout->addWidget(m_leftMenu, 1);
    leftLayout->addWidget(aboutButton, 0);

    m_rightContent->setObjectName(QStringLiteral("right_content"));
    m_rightContent->setLayout(m_pages);

    m_burnTab = new BurnTab(m_rightContent);
    m_historyTab = new HistoryTab(m_rightContent);
    m_manualTab = new ManualTab(m_rightContent);
    m_settingTab = new SettingTab(m_rightContent);
    for (ZelTab *tab : {static_cast<ZelTab *>(m_burnTab), static_cast<ZelTab *>(m_historyTab),
                        static_cast<ZelTab *>(m_manualTab), static_cast<ZelTab *>(m_settingTab)})
        addTab(tab);
    connect(m_burnTab, &BurnTab::historyRecorded, m_historyTab, &HistoryTab::addRecord);
    connect(m_burnTab, &BurnTab::burnResult, m_historyTab, &HistoryTab::onBurnResult);
    connect(m_burnTab, &BurnTab::historyStored, m_historyTab, &HistoryTab::refresh);
    connect(m_settingTab, &SettingTab::statisticReseted, m_burnTab, &BurnTab::refreshCounters);
    connect(m_settingTab, &SettingTab::clearMapping, m_burnTab, &BurnTab::clearPortMapping);
    connect(m_settingTab, &SettingTab::clearHistory, m_historyTab, &HistoryTab::refresh);
    m_settingTab->setBurnRunningCheck([this] { return !m_burnTab->isIdle(); });
    // Through the burn page, behind the counts it is still writing.
    m_settingTab->setCounterReset([this] { return m_burnTab->resetCounters(); });

    auto *mainLayout = new QHBoxLayout(this);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);
    mainLayout->addWidget(leftColumn, 0);
    mainLayout->addWidget(m_rightContent, 1);

    selectTab(0);

    // Without the library the window still works; it just finds no board.
    if (libzelupg_init() != 0)
        qCritical() << "Failed to init libusbupg!";
    listenToBoardsAndWorkers();
    // Boards plugged in before the console started, or across its restart,
    // announce nothing: they are looked for once the changes are watched.
    m_burnTab->scanBoards();
}

Veldmark::~Veldmark()
{
    delete m_logger;
    delete m_about;
    libzelupg_exit();
}

void Veldmark::closeEvent(QCloseEvent *event)
{
    if (m_burnTab->isIdle()) {
        event->accept();
        return;
    }
    ZelDialog::alert(this, QStringLiteral("正在烧写设备，无法关闭程序"));
    event->ignore();
}

void Veldmark::addTab(ZelTab *tab)
{
    auto *item = new QListWidgetItem(m_leftMenu);
    item->setSizeHint(QSize(100, 100));
    m_leftMenu->setItemWidget(item, tab->menuEntry());
    m_pages->addWidget(tab);
}

void Veldmark::selectTab(int row)
{
    for (int i = 0; i < m_leftMenu->count(); ++i) {
        QWidget *entry = m_leftMenu->itemWidget(m_leftMenu->item(i));
        entry->setStyleSheet(i == row ? QStringLiteral("background-color: #2a86bf; color: #fff;")
                                      : QString());
    }
    m_pages->setCurrentIndex(row);
}

void Veldmark::showAbout()
{
    if (!m_about)
        m_about = new ZelAbout(AppInfo::windowTitle(), AppInfo::buildTime(), this);
    m_about->show();
}
