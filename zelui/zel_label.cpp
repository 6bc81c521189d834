#include "zel_label.h"

#include <QMouseEvent>

ZelLabel::ZelLabel(QWidget *parent) : QLabel(parent) {}

ZelLabel::ZelLabel(const QString &text, QWidget *parent) : QLabel(text, parent) {}

void ZelLabel::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

// Like a button: a press that is dragged off the label and released elsewhere is no click.
void ZelLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click =
        m_pressed && event->button() == Qt::LeftButton && rect().contains(event->pos());
    m_pressed = false;
    QLabel::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}
