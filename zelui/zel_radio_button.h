#pragma once
// The radio button of our pages: a hand cursor, looks from the style sheet.

#include <QRadioButton>

class ZelRadioButton : public QRadioButton
{
    Q_OBJECT
public:
    explicit ZelRadioButton(const QString &text, QWidget *parent = nullptr);
};
