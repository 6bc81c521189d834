#include "zel_tab.h"

#include <QLabel>
#include <QVBoxLayout>

ZelTab::ZelTab(QWidget *parent) : QWidget(parent) {}

ZelTab::~ZelTab()
{
    delete m_menuEntry;
}

QWidget *ZelTab::menuEntry() const
{
    return m_menuEntry;
}

void ZelTab::createMenuEntry(const QString &title, FontAwesome::IconIdentity icon)
{
    auto *entry = new QWidget;
    entry->setCursor(Qt::PointingHandCursor);

    auto *iconLabel = new QLabel(entry);
    iconLabel->setObjectName(QStringLiteral("menu_icon"));
    iconLabel->setAlignment(Qt::AlignCenter);
    FontAwesome::setLabelIcon(iconLabel, icon);

    auto *titleLabel = new QLabel(title, entry);
    titleLabel->setAlignment(Qt::AlignCenter);

    auto *layout = new QVBoxLayout(entry);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addStretch(1);
    layout->addWidget(iconLabel, 6);
    layout->addWidget(titleLabel, 2);
    layout->addStretch(1);

    delete m_menuEntry;
    m_menuEntry = entry;
}
