#include "icon_font.h"

static void initIconFontResource()
{
    // The resource lives in a static library, so its initialiser must be
    // pulled in by hand, outside any namespace.
    Q_INIT_RESOURCE(zelui);
}

QString iconFontFile()
{
    initIconFontResource();
    return QStringLiteral(":/font/fontawesome-webfont.ttf");
}
