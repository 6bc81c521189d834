#include "history_table_view.h"

#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleOptionViewItem>

#include <algorithm>

HistoryTableView::HistoryTableView(QWidget *parent) : QTableView(parent)
{
    // The grid keeps its place between the cells; only its drawing moves here.
    setGridStyle(Qt::NoPen);
}

void HistoryTableView::paintEvent(QPaintEvent *event)
{
    QTableView::paintEvent(event);
    if (!showGrid())
        return;
    QPainter painter(viewport());
    for (const QRect &dirty : event->region())
        paintGrid(&painter, dirty);
}

// The lines Qt would draw: under every row and right of every column shown,
// within the part of the table that holds cells.
void HistoryTableView::paintGrid(QPainter *painter, const QRect &dirty) const
{
    const QHeaderView *rows = verticalHeader();
    const QHeaderView *columns = horizontalHeader();
    if (rows->count() == 0 || columns->count() == 0)
        return;
    const int lastY = rows->length() - rows->offset() - 1;
    const int lastX = columns->length() - columns->offset() - 1;
    QRect area = dirty;
    area.setBottom(std::min(area.bottom(), lastY));
    area.setRight(std::min(area.right(), lastX));
    if (area.isEmpty())
        return;
    QStyleOptionViewItem option;
    option.initFrom(this);
    const QColor colour = QColor::fromRgba(
        static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));

    const int top = rows->visualIndexAt(area.top());
    int bottom = rows->visualIndexAt(area.bottom());
    if (bottom < 0)
        bottom = rows->count() - 1;
    for (int visual = std::max(top, 0); visual <= bottom; ++visual) {
        const int row = rows->logicalIndex(visual);
        if (rows->isSectionHidden(row))
            continue;
        const int y = rowViewportPosition(row) + rowHeight(row) - 1;
        painter->fillRect(QRect(area.left(), y, area.width(), 1), colour);
    }
    const int left = columns->visualIndexAt(area.left());
    int right = columns->visualIndexAt(area.right());
    if (right < 0)
        right = columns->count() - 1;
    for (int visual = std::max(left, 0); visual <= right; ++visual) {
        const int column = columns->logicalIndex(visual);
        if (columns->isSectionHidden(column))
            continue;
        const int x = columnViewportPosition(column) + columnWidth(column) - 1;
        painter->fillRect(QRect(x, area.top(), 1, area.height()), colour);
    }
}
