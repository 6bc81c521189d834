#pragma once
// The operator's instructions: a read-only rich-text page with pictures of the
// console's own widgets.

#include "zel_tab.h"

class ManualTab : public ZelTab
{
    Q_OBJECT
public:
    explicit ManualTab(QWidget *parent = nullptr);

    static QString document();
};
