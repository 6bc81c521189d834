#pragma once
// Draws the history table's cells from a cache of their pictures. A busy line
// repaints the shown day at every batch of results, and every row but the new
// one looks as it did: a cell is drawn once for its text, size and state, and
// copied after that. The cache is keyed by what the cell shows, so it is never
// stale, whatever happens to the rows.

#include <QCache>
#include <QPixmap>
#include <QStyledItemDelegate>

class HistoryCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit HistoryCellDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

protected:
    // What the cell shows on top of its row's background.
    virtual void paintCell(QPainter *painter, const QStyleOptionViewItem &option,
                           const QModelIndex &index) const;

private:
    mutable QCache<QString, QPixmap> m_cells;
};
