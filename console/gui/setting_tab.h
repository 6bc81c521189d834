#pragma once
// The settings page: its menu entry and its place in the page stack.

#include "zel_tab.h"

class SettingTab : public ZelTab
{
    Q_OBJECT
public:
    explicit SettingTab(QWidget *parent = nullptr);
};
