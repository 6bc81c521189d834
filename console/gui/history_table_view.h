#pragma once
// The history table with its grid drawn as one-pixel rectangles. Qt draws a
// table's grid lines pixel by pixel, which took more than half of every
// repaint; a busy line repaints the shown day at every burst of results.

#include <QTableView>

class HistoryTableView : public QTableView
{
    Q_OBJECT
public:
    explicit HistoryTableView(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paintGrid(QPainter *painter, const QRect &dirty) const;
};
