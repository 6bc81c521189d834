#pragma once
// The history page: its menu entry and its place in the page stack.

#include "zel_tab.h"

class HistoryTab : public ZelTab
{
    Q_OBJECT
public:
    explicit HistoryTab(QWidget *parent = nullptr);
};
