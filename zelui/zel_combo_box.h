#pragma once
// A combo box whose drop-down list follows the style sheet.

#include <QComboBox>

class ZelComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit ZelComboBox(QWidget *parent = nullptr);
};
