#pragma once
// Base of the console's pages. Each page owns the entry that represents it in
// the left menu: a glyph above a title.

#include "font_awesome.h"

#include <QPointer>
#include <QWidget>

class ZelTab : public QWidget
{
    Q_OBJECT
public:
    explicit ZelTab(QWidget *parent = nullptr);
    ~ZelTab() override;

    QWidget *menuEntry() const;

protected:
    void createMenuEntry(const QString &title, FontAwesome::IconIdentity icon);

private:
    // The menu list takes the entry over as an item widget and may delete it first.
    QPointer<QWidget> m_menuEntry;
};
