#pragma once
// Draws the log and delete buttons of every history row and turns a click on
// one into a signal, so a day of many rows needs no widget per row.

#include "history_cell_delegate.h"

class HistoryButtonDelegate : public HistoryCellDelegate
{
    Q_OBJECT
public:
    enum Button { LogButton, DeleteButton };

    explicit HistoryButtonDelegate(QObject *parent = nullptr);

    // Where button sits in a cell: 30 px wide, centred side by side, 5 px apart.
    static QRect buttonRect(const QRect &cell, Button button);

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

signals:
    void clicked(int row, HistoryButtonDelegate::Button button);

protected:
    void paintCell(QPainter *painter, const QStyleOptionViewItem &option,
                   const QModelIndex &index) const override;
};
