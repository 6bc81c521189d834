#include "setting_tab.h"

#include "app_info.h"
#include "history_database.h"
#include "log_files.h"
#include "settings_store.h"
#include "zel_button.h"
#include "zel_combo_box.h"
#include "zel_dialog.h"
#include "zel_label.h"
#include "zel_radio_button.h"
#include "zel_version_tool.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDebug>
#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QUrl>
#include <QVBoxLayout>

static const QString kUnsavedSettings = QStringLiteral("无法写入配置文件");

static QLabel *newTipLabel(const QString &tip)
{
    auto *label = new QLabel(QStringLiteral("* ") + tip);
    label->setObjectName(QStringLiteral("tip_label"));
    return label;
}

static ZelButton *newActionButton(const QString &text)
{
    auto *button = new ZelButton(text);
    button->setObjectName(QStringLiteral("clear_btn"));
    button->setFixedWidth(120);
    return button;
}

static QString countSpan(const QString &text, const char *colour)
{
    return QStringLiteral("<span style=\"color: %1; font-weight: bold;\">%2</span>")
        .arg(QLatin1String(colour), text);
}

SettingTab::SettingTab(QWidget *parent, std::function<QDate()> today)
    : ZelTab(parent), m_slotCountGroup(new QButtonGroup(this)),
      m_columnCountGroup(new QButtonGroup(this)), m_windowModeGroup(new QButtonGroup(this)),
      m_periodBox(new ZelComboBox), m_today(std::move(today))
{
    setObjectName(QStringLiteral("setting_tab"));
    createMenuEntry(QStringLiteral("系统配置"), FontAwesome::Cogs);

    SettingsStore *settings = SettingsStore::instance();
    const int *grid = SettingsStore::kGridValues;
    const int columnCount = SettingsStore::kColumnValueCount;

    QWidget *slotCounts = newRadioRow(
        m_slotCountGroup,
        {QString::number(grid[columnCount]), QString::number(grid[columnCount + 1])}, {0, 50}, 50);
    const int slotSetting = settings->maxDevCount();
    for (int id = 0; id < 2; ++id)
        m_slotCountGroup->button(id)->setChecked(grid[columnCount + id] == slotSetting);
    connect(m_slotCountGroup, &QButtonGroup::idClicked, this, [this, grid, columnCount](int id) {
        saveGridValue(SettingsStore::instance()->setMaxDevCount(grid[columnCount + id]));
    });

    QWidget *columns =
        newRadioRow(m_columnCountGroup,
                    {QString::number(grid[0]), QString::number(grid[1]), QString::number(grid[2])},
                    {0, 50, 100}, 0);
    const int columnSetting = settings->devColumnCount();
    for (int id = 0; id < columnCount; ++id)
        m_columnCountGroup->button(id)->setChecked(grid[id] == columnSetting);
    connect(m_columnCountGroup, &QButtonGroup::idClicked, this, [this, grid](int id) {
        saveGridValue(SettingsStore::instance()->setDevColumnCount(grid[id]));
    });

    QWidget *windowModes = newRadioRow(
        m_windowModeGroup, {QStringLiteral("窗口"), QStringLiteral("全屏")}, {0, 75}, 0);
    m_windowModeGroup->button(0)->setChecked(true);
    connect(m_windowModeGroup, &QButtonGroup::idClicked, this, &SettingTab::setWindowMode);

    ZelButton *checkVersionButton = newActionButton(QStringLiteral("检查新版本"));
    connect(checkVersionButton, &QPushButton::clicked, this, &SettingTab::checkVersion);
    ZelButton *resetButton = newActionButton(QStringLiteral("重置"));
    connect(resetButton, &QPushButton::clicked, this, &SettingTab::resetStatistic);
    ZelButton *clearBindingsButton = newActionButton(QStringLiteral("清除"));
    connect(clearBindingsButton, &QPushButton::clicked, this, &SettingTab::clearBindings);

    const QString resetTip =
        QStringLiteral("把") + countSpan(QStringLiteral("总次数"), "#ff5722") +
        QStringLiteral("、") + countSpan(QStringLiteral("成功次数"), "#09983b") +
        QStringLiteral("、") + countSpan(QStringLiteral("失败次数"), "#de4745") +
        QStringLiteral("三个统计值重置为0");
    const QString bindingTip = QStringLiteral("清除\"镜像烧写\"页中设备位置与USB端口的关联");

    auto *form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->setHorizontalSpacing(15);
    form->setVerticalSpacing(5);
    form->setLabelAlignment(Qt::AlignRight);
    const struct {
        QString label;
        QWidget *field;
        QString tip;
    } rows[] = {
        {QStringLiteral("最大设备数"), slotCounts, QStringLiteral("软件支持同时烧录的最大设备数")},
        {QStringLiteral("设备列数"), columns, QStringLiteral("设备列表的显示列数")},
        {QStringLiteral("全屏设置"), windowModes, QStringLiteral("是否全屏显示")},
        {QStringLiteral("版本升级"), checkVersionButton,
         QStringLiteral("当前版本为") + AppInfo::versionText()},
        {QStringLiteral("统计重置"), resetButton, resetTip},
        {QStringLiteral("烧写历史"), newHistoryRow(), QStringLiteral("清除指定时间内的烧写历史")},
        {QStringLiteral("设备关联"), clearBindingsButton, bindingTip},
        {QStringLiteral("意见反馈"), newFeedbackLink(),
         QStringLiteral("告诉我们您使用中发现的bug或使用建议")},
    };
    for (const auto &row : rows) {
        form->addRow(row.label, row.field);
        form->addRow(QString(), newTipLabel(row.tip));
    }

    auto *bottomTip = new ZelLabel;
    bottomTip->setObjectName(QStringLiteral("bottom_tip_label"));
    bottomTip->setText(QStringLiteral("提示：<span style=\"color: #000;\">最大设备数</span>和"
                                      "<span style=\"color: #000;\">设备列数</span>重启后生效，"
                                      "<a href=\"javascript: void(0);\" style=\"color: green;\">"
                                      "点我重启</a>"));
    connect(bottomTip, &ZelLabel::clicked, this, &SettingTab::restartApplication);

    auto *formContainer = new QWidget;
    formContainer->setLayout(form);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(15, 15, 15, 15);
    layout->addWidget(formContainer, 1);
    layout->addWidget(bottomTip);
}

void SettingTab::setCounterReset(std::function<bool()> resetCounters)
{
    m_resetCounters = std::move(resetCounters);
}

void SettingTab::setBurnRunningCheck(std::function<bool()> isBurnRunning)
{
    m_isBurnRunning = std::move(isBurnRunning);
}

// Buttons placed by position without a layout; the row is made as large as
// they are, so the form gives it their room.
QWidget *SettingTab::newRadioRow(QButtonGroup *group, const QStringList &texts,
                                 const QList<int> &xs, int fixedWidth)
{
    auto *row = new QWidget;
    QSize extent;
    for (int id = 0; id < texts.size(); ++id) {
        auto *button = new ZelRadioButton(texts.at(id), row);
        if (fixedWidth > 0)
            button->setFixedWidth(fixedWidth);
        button->adjustSize();
        button->move(xs.at(id), 0);
        group->addButton(button, id);
        extent = extent.expandedTo(QSize(xs.at(id) + button->width(), button->height()));
    }
    row->setMinimumSize(extent);
    return row;
}

QWidget *SettingTab::newHistoryRow()
{
    m_periodBox->setFixedWidth(120);
    m_periodBox->addItem(QStringLiteral("今天"), 1);
    m_periodBox->addItem(QStringLiteral("近一周"), 7);
    m_periodBox->addItem(QStringLiteral("近一个月"), 30);
    m_periodBox->addItem(QStringLiteral("所有"), 0);
    ZelButton *clearButton = newActionButton(QStringLiteral("清除"));
    connect(clearButton, &QPushButton::clicked, this, &SettingTab::clearBurnHistory);

    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    layout->addWidget(m_periodBox);
    layout->addWidget(clearButton);
    layout->addStretch();
    return row;
}

// The service address comes from the settings, so a site can name its own.
QWidget *SettingTab::newFeedbackLink()
{
    QString address =
        SettingsStore::instance()->value(QStringLiteral("service"), QStringLiteral("feedback_url"));
    if (address.isEmpty())
        address = QLatin1String(AppInfo::kDefaultFeedbackAddress);
    auto *link = new QLabel(QStringLiteral("<a href=\"%1\" style=\"color: blue;\">去反馈</a>")
                                .arg(AppInfo::feedbackLink(address).toHtmlEscaped()));
    link->setObjectName(QStringLiteral("feedback_link"));
    connect(link, &QLabel::linkActivated, this, [](const QString &target) {
        QDesktopServices::openUrl(QUrl(target, QUrl::TolerantMode));
    });
    return link;
}

void SettingTab::saveGridValue(bool written)
{
    if (!written)
        ZelDialog::alert(this, QStringLiteral("保存失败：") + kUnsavedSettings, false);
}

void SettingTab::setWindowMode(int id)
{
    QWidget *mainWindow = window();
    if (id == 0 && mainWindow->isFullScreen())
        mainWindow->showNormal();
    else if (id == 1 && mainWindow->isWindow())
        mainWindow->showFullScreen();
}

void SettingTab::checkVersion()
{
    if (!m_versionTool) {
        m_versionTool = new ZelVersionTool(this);
        m_versionTool->setAppId(AppInfo::kAppId);
        m_versionTool->setCurVersion(AppInfo::kVersionMajor, AppInfo::kVersionMinor,
                                     AppInfo::kVersionPatch);
        const QString service = SettingsStore::instance()->value(QStringLiteral("service"),
                                                                 QStringLiteral("update_url"));
        if (!service.isEmpty())
            m_versionTool->setServiceUrl(QUrl(service, QUrl::TolerantMode));
    }
    m_versionTool->checkLastVersion();
}

void SettingTab::resetStatistic()
{
    const bool written =
        m_resetCounters ? m_resetCounters() : SettingsStore::instance()->resetCounters();
    ZelDialog::alert(this,
                     written ? QStringLiteral("重置成功")
                             : QStringLiteral("重置失败：") + kUnsavedSettings,
                     false);
    emit statisticReseted();
}

void SettingTab::clearBurnHistory()
{
    const int days = m_periodBox->currentData().toInt();
    const QString cutoff =
        days > 0 ? m_today().addDays(-days).toString(QStringLiteral("yyyy-MM-dd")) : QString();
    // Rows that stay keep their logs.
    if (HistoryDatabase::instance()->deleteHistoryAfter(cutoff) < 0) {
        ZelDialog::alert(this, QStringLiteral("烧写历史清除失败：无法修改历史数据库"), false);
        return;
    }
    purgeLogDirs(cutoff);
    emit clearHistory();
    ZelDialog::alert(this, QStringLiteral("烧写历史清除成功"), false);
}

void SettingTab::clearBindings()
{
    emit clearMapping();
    const bool written = SettingsStore::instance()->setPortMapping(PortMapping());
    ZelDialog::alert(this,
                     written ? QStringLiteral("清除成功")
                             : QStringLiteral("清除失败：") + kUnsavedSettings,
                     false);
}

void SettingTab::restartApplication()
{
    if (m_isBurnRunning && m_isBurnRunning()) {
        ZelDialog::alert(this, QStringLiteral("正在烧写设备，请稍后再重启"), false);
        return;
    }
    QApplication::closeAllWindows();
    // A window that refused to close keeps this console running; a second one
    // would then compete with it for the boards and the workers' reports.
    for (const QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible()) {
            qWarning() << "Restart cancelled: a window stayed open";
            return;
        }
    }
    if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), QStringList()))
        qCritical() << "Failed to restart" << QCoreApplication::applicationFilePath();
}
