#include "history_button_delegate.h"

#include "font_awesome.h"

#include <QMouseEvent>
#include <QPainter>

static constexpr int kButtonWidth = 30;
static constexpr int kButtonHeight = 23;
static constexpr int kSpacing = 5;

HistoryButtonDelegate::HistoryButtonDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

QRect HistoryButtonDelegate::buttonRect(const QRect &cell, Button button)
{
    const int left = cell.center().x() - kButtonWidth - kSpacing / 2 + 1;
    const int top = cell.center().y() - kButtonHeight / 2;
    const int x = button == LogButton ? left : left + kButtonWidth + kSpacing;
    return QRect(x, top, kButtonWidth, kButtonHeight);
}

// Antialiased rounded buttons cost more to draw than the rest of a row; a
// table repainted at every result draws a copy of them instead.
const QPixmap &HistoryButtonDelegate::buttonPair(qreal pixelRatio) const
{
    if (!m_buttonPair.isNull() && m_buttonPair.devicePixelRatio() == pixelRatio)
        return m_buttonPair;
    const QRect pair = buttonRect(QRect(), LogButton).united(buttonRect(QRect(), DeleteButton));
    QPixmap pixmap(pair.size() * pixelRatio);
    pixmap.setDevicePixelRatio(pixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(-pair.topLeft());
    QFont font(FontAwesome::family());
    font.setPixelSize(14);
    painter.setFont(font);
    const struct {
        Button button;
        FontAwesome::IconIdentity icon;
    } buttons[] = {{LogButton, FontAwesome::FileText}, {DeleteButton, FontAwesome::TrashO}};
    for (const auto &entry : buttons) {
        const QRect rect = buttonRect(QRect(), entry.button);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(42, 134, 191));
        painter.drawRoundedRect(rect, 4, 4);
        painter.setPen(Qt::white);
        painter.drawText(rect, Qt::AlignCenter, FontAwesome::glyph(entry.icon));
    }
    painter.end();
    m_buttonPair = pixmap;
    return m_buttonPair;
}

void HistoryButtonDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                  const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    const QPixmap &pair = buttonPair(painter->device()->devicePixelRatioF());
    painter->drawPixmap(buttonRect(option.rect, LogButton).topLeft(), pair);
}

QSize HistoryButtonDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(2 * kButtonWidth + kSpacing + 6, kButtonHeight + 6);
}

bool HistoryButtonDelegate::editorEvent(QEvent *event, QAbstractItemModel *,
                                        const QStyleOptionViewItem &option,
                                        const QModelIndex &index)
{
    if (event->type() != QEvent::MouseButtonRelease)
        return false;
    const auto *mouse = static_cast<QMouseEvent *>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    for (Button button : {LogButton, DeleteButton}) {
        if (buttonRect(option.rect, button).contains(mouse->pos())) {
            emit clicked(index.row(), button);
            return true;
        }
    }
    return false;
}
