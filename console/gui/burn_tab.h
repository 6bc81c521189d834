#pragma once
// The burn page: its menu entry and its place in the page stack.

#include "zel_tab.h"

class BurnTab : public ZelTab
{
    Q_OBJECT
public:
    explicit BurnTab(QWidget *parent = nullptr);
};
