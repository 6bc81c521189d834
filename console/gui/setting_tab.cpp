#include "setting_tab.h"

SettingTab::SettingTab(QWidget *parent) : ZelTab(parent)
{
    setObjectName(QStringLiteral("setting_tab"));
    createMenuEntry(QStringLiteral("系统配置"), FontAwesome::Cogs);
}
