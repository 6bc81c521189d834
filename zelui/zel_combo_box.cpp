#include "zel_combo_box.h"

#include <QListView>

ZelComboBox::ZelComboBox(QWidget *parent) : QComboBox(parent)
{
    // The default popup ignores item rules of style sheets; a plain list view honours them.
    setView(new QListView(this));
    setCursor(Qt::PointingHandCursor);
}
