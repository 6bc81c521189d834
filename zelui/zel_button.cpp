#include "zel_button.h"

ZelButton::ZelButton(QWidget *parent) : ZelButton(QString(), parent) {}

ZelButton::ZelButton(const QString &text, QWidget *parent) : QPushButton(text, parent)
{
    setCursor(Qt::PointingHandCursor);
}
