#include "history_button_delegate.h"

#include "font_awesome.h"

#include <QMouseEvent>
#include <QPainter>

static constexpr int kButtonWidth = 30;
static constexpr int kButtonHeight = 23;
static constexpr int kSpacing = 5;

HistoryButtonDelegate::HistoryButtonDelegate(QObject *parent) : HistoryCellDelegate(parent) {}

QRect HistoryButtonDelegate::buttonRect(const QRect &cell, Button button)
{
    const int left = cell.center().x() - kButtonWidth - kSpacing / 2 + 1;
    const int top = cell.center().y() - kButtonHeight / 2;
    const int x = button == LogButton ? left : left + kButtonWidth + kSpacing;
    return QRect(x, top, kButtonWidth, kButtonHeight);
}

void HistoryButtonDelegate::paintCell(QPainter *painter, const QStyleOptionViewItem &option,
                                      const QModelIndex &index) const
{
    HistoryCellDelegate::paintCell(painter, option, index);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QFont font(FontAwesome::family());
    font.setPixelSize(14);
    painter->setFont(font);
    const struct {
        Button button;
        FontAwesome::IconIdentity icon;
    } buttons[] = {{LogButton, FontAwesome::FileText}, {DeleteButton, FontAwesome::TrashO}};
    for (const auto &entry : buttons) {
        const QRect rect = buttonRect(option.rect, entry.button);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(42, 134, 191));
        painter->drawRoundedRect(rect, 4, 4);
        painter->setPen(Qt::white);
        painter->drawText(rect, Qt::AlignCenter, FontAwesome::glyph(entry.icon));
    }
    painter->restore();
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
