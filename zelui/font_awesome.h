#pragma once
// FontAwesome 4 glyphs drawn as text with the FontAwesome icon font.

#include <QString>

class QLabel;
class QPushButton;

class FontAwesome
{
public:
    // FontAwesome 4 code points; any other code point may be cast in.
    enum IconIdentity : ushort {
        Close = 0xF00D,
        TrashO = 0xF014,
        Book = 0xF02D,
        ChevronLeft = 0xF053,
        ChevronRight = 0xF054,
        Fire = 0xF06D,
        Cogs = 0xF085,
        Link = 0xF0C1,
        FolderOpenO = 0xF115,
        ChainBroken = 0xF127,
        FileText = 0xF15C,
        History = 0xF1DA,
        QuestionCircleO = 0xF29C,
    };

    // Family name of the icon font; registers the font on first use.
    static QString family();
    static QString glyph(IconIdentity icon);
    static void setLabelIcon(QLabel *label, IconIdentity icon);
    static void setButtonIcon(QPushButton *button, IconIdentity icon);
};
