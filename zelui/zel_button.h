#pragma once
// The push button of our dialogs and pages: a hand cursor, looks from the style sheet.

#include <QPushButton>

class ZelButton : public QPushButton
{
    Q_OBJECT
public:
    explicit ZelButton(QWidget *parent = nullptr);
    explicit ZelButton(const QString &text, QWidget *parent = nullptr);
};
