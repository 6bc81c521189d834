#pragma once
// The about box: the program's title and the time it was built.

#include "zel_dialog.h"

class ZelAbout : public ZelDialog
{
    Q_OBJECT
public:
    ZelAbout(const QString &title, const QString &buildTime, QWidget *parent = nullptr);
};
