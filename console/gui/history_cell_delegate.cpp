#include "history_cell_delegate.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QPainter>

// About two screens of cells in both row colours.
static constexpr int kCachedPixels = 4 * 1024 * 1024;

HistoryCellDelegate::HistoryCellDelegate(QObject *parent)
    : QStyledItemDelegate(parent), m_cells(kCachedPixels)
{
}

static QString cellKey(const QStyleOptionViewItem &option, const QModelIndex &index, qreal ratio)
{
    const QStyle::State states = QStyle::State_Selected | QStyle::State_MouseOver |
                                 QStyle::State_HasFocus | QStyle::State_Enabled |
                                 QStyle::State_Active;
    const QVariant foreground = index.data(Qt::ForegroundRole);
    return QStringLiteral("%1|%2|%3x%4|%5|%6|%7|%8")
        .arg(index.column())
        .arg(int(option.state & states))
        .arg(option.rect.width())
        .arg(option.rect.height())
        .arg(int(option.features & QStyleOptionViewItem::Alternate))
        .arg(ratio)
        .arg(foreground.isValid() ? foreground.value<QColor>().rgba() : 0)
        .arg(index.data(Qt::DisplayRole).toString());
}

void HistoryCellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                const QModelIndex &index) const
{
    const qreal ratio = painter->device()->devicePixelRatioF();
    const QString key = cellKey(option, index, ratio);
    if (const QPixmap *cell = m_cells.object(key)) {
        painter->drawPixmap(option.rect.topLeft(), *cell);
        return;
    }
    // Opaque, as the cell is on the screen, so text is smoothed the same way.
    auto *cell = new QPixmap(option.rect.size() * ratio);
    cell->setDevicePixelRatio(ratio);
    const QWidget *view = option.widget;
    const auto *table = qobject_cast<const QAbstractScrollArea *>(view);
    const QWidget *under = table ? table->viewport() : view;
    cell->fill(under ? under->palette().color(under->backgroundRole()) : Qt::white);
    {
        QPainter cellPainter(cell);
        QStyleOptionViewItem at(option);
        at.rect = QRect(QPoint(0, 0), option.rect.size());
        const QStyle *style = view ? view->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewRow, &at, &cellPainter, view);
        paintCell(&cellPainter, at, index);
    }
    painter->drawPixmap(option.rect.topLeft(), *cell);
    m_cells.insert(key, cell, cell->width() * cell->height());
}

void HistoryCellDelegate::paintCell(QPainter *painter, const QStyleOptionViewItem &option,
                                    const QModelIndex &index) const
{
    QStyledItemDelegate::paint(painter, option, index);
}
