#include "history_tab.h"

HistoryTab::HistoryTab(QWidget *parent) : ZelTab(parent)
{
    setObjectName(QStringLiteral("history_tab"));
    createMenuEntry(QStringLiteral("烧写历史"), FontAwesome::History);
}
