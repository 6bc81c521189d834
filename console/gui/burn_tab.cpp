#include "burn_tab.h"

BurnTab::BurnTab(QWidget *parent) : ZelTab(parent)
{
    setObjectName(QStringLiteral("burn_tab"));
    createMenuEntry(QStringLiteral("镜像烧写"), FontAwesome::Fire);
}
