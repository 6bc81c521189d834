#include "application_font.h"

#include <QApplication>
#include <QDebug>
#include <QFontDatabase>

bool installApplicationFont()
{
    const int id =
        QFontDatabase::addApplicationFont(QStringLiteral(":/font/DroidSansFallback.ttf"));
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty()) {
        qWarning() << "The application font resource holds no font family";
        return false;
    }
    QFont font(families.first());
    font.setPixelSize(15);
    QApplication::setFont(font);
    return true;
}
