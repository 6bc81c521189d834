#include "zel_radio_button.h"

ZelRadioButton::ZelRadioButton(const QString &text, QWidget *parent) : QRadioButton(text, parent)
{
    setCursor(Qt::PointingHandCursor);
}
