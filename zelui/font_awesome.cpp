#include "font_awesome.h"
#include "icon_font.h"

#include <QDebug>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>

static QString registerIconFont()
{
    const QString file = iconFontFile();
    const int id = QFontDatabase::addApplicationFont(file);
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        qCritical() << "Failed to load the FontAwesome font from" << file;
        return QString();
    }
    return families.first();
}

QString FontAwesome::family()
{
    static const QString name = registerIconFont();
    return name;
}

QString FontAwesome::glyph(IconIdentity icon)
{
    return QString(QChar(static_cast<ushort>(icon)));
}

// Only the family changes: the size stays whatever the widget or its style sheet gives it.
template <typename Widget> static void showGlyph(Widget *widget, FontAwesome::IconIdentity icon)
{
    QFont font = widget->font();
    font.setFamily(FontAwesome::family());
    widget->setFont(font);
    widget->setText(FontAwesome::glyph(icon));
}

void FontAwesome::setLabelIcon(QLabel *label, IconIdentity icon)
{
    showGlyph(label, icon);
}

void FontAwesome::setButtonIcon(QPushButton *button, IconIdentity icon)
{
    showGlyph(button, icon);
}
