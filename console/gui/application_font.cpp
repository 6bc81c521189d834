#include "application_font.h"

#include <QApplication>
#include <QDebug>
#include <QFontDatabase>

bool installApplicationFont()
{
    // The fonts-droid-fallback file, or the compiled-in copy where the build
    // embeds it.
    const QString file = QStringLiteral(CONSOLE_APP_FONT_SOURCE);
    const int id = QFontDatabase::addApplicationFont(file);
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        qWarning() << "No font family in the application font" << file;
        return false;
    }
    QFont font(families.first());
    font.setPixelSize(15);
    QApplication::setFont(font);
    return true;
}
