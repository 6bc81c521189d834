#include "zel_title_bar.h"

#include "font_awesome.h"
#include "zel_button.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>

static QIcon &storedBarIcon()
{
    static QIcon icon;
    return icon;
}

void ZelTitleBar::setBarIcon(const QIcon &icon)
{
    storedBarIcon() = icon;
}

QIcon ZelTitleBar::barIcon()
{
    return storedBarIcon();
}

ZelTitleBar::ZelTitleBar(bool closable, QWidget *parent)
    : QWidget(parent), m_title(new QLabel(this))
{
    setObjectName(QStringLiteral("zel_title_bar"));
    setAttribute(Qt::WA_StyledBackground);
    setFixedHeight(36);

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("bar_icon"));
    icon->setFixedSize(20, 20);
    if (!barIcon().isNull())
        icon->setPixmap(barIcon().pixmap(20, 20));

    m_title->setObjectName(QStringLiteral("bar_title"));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 0, 4, 0);
    layout->setSpacing(8);
    layout->addWidget(icon);
    layout->addWidget(m_title, 1);

    if (closable) {
        auto *close = new ZelButton(this);
        close->setObjectName(QStringLiteral("bar_close"));
        close->setFixedSize(32, 32);
        FontAwesome::setButtonIcon(close, FontAwesome::Close);
        connect(close, &QPushButton::clicked, this, &ZelTitleBar::closeClicked);
        layout->addWidget(close);
    }
}

void ZelTitleBar::setTitle(const QString &title)
{
    m_title->setText(title);
}

QString ZelTitleBar::title() const
{
    return m_title->text();
}

void ZelTitleBar::mousePressEvent(QMouseEvent *event)
{
    m_dragging = event->button() == Qt::LeftButton;
    m_dragOffset = event->globalPos() - window()->pos();
    QWidget::mousePressEvent(event);
}

void ZelTitleBar::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        window()->move(event->globalPos() - m_dragOffset);
    QWidget::mouseMoveEvent(event);
}
