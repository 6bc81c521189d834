#include "icon_font.h"

// The file of the fonts-font-awesome package, a dependency of ours.
QString iconFontFile()
{
    return QStringLiteral(ZELUI_ICON_FONT_FILE);
}
