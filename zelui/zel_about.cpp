#include "zel_about.h"

#include "zel_button.h"
#include "zel_title_bar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

ZelAbout::ZelAbout(const QString &title, const QString &buildTime, QWidget *parent)
    : ZelDialog(parent, true)
{
    setObjectName(QStringLiteral("about_dialog"));
    setTitle(QStringLiteral("关于"));

    auto *icon = new QLabel;
    icon->setObjectName(QStringLiteral("about_icon"));
    icon->setFixedSize(64, 64);
    if (!ZelTitleBar::barIcon().isNull())
        icon->setPixmap(ZelTitleBar::barIcon().pixmap(64, 64));

    auto *name = new QLabel(title);
    name->setObjectName(QStringLiteral("about_title"));
    name->setTextFormat(Qt::PlainText);
    name->setStyleSheet(QStringLiteral("font-size: 18px; font-weight: bold; color: #333;"));

    auto *built = new QLabel(QStringLiteral("构建时间：") + buildTime);
    built->setObjectName(QStringLiteral("about_build_time"));
    built->setTextFormat(Qt::PlainText);
    built->setStyleSheet(QStringLiteral("color: #666;"));

    auto *texts = new QVBoxLayout;
    texts->setSpacing(8);
    texts->addStretch(1);
    texts->addWidget(name);
    texts->addWidget(built);
    texts->addStretch(1);

    auto *top = new QHBoxLayout;
    top->setSpacing(15);
    top->addWidget(icon, 0, Qt::AlignVCenter);
    top->addLayout(texts, 1);

    auto *ok = new ZelButton(QStringLiteral("确定"));
    ok->setObjectName(QStringLiteral("ok_btn"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);

    auto *layout = new QVBoxLayout;
    layout->setContentsMargins(20, 15, 20, 15);
    layout->addLayout(top, 1);
    layout->addLayout(buttons);
    setContentLayout(layout);
    setFixedSize(400, 200);
}
