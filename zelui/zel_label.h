#pragma once
// A label the operator can click.

#include <QLabel>

class ZelLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ZelLabel(QWidget *parent = nullptr);
    explicit ZelLabel(const QString &text, QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_pressed = false;
};
