#pragma once
// Where the FontAwesome font is read from: the font package's file, or a
// resource compiled in where no such package exists. The build picks one of
// icon_font_system.cpp and icon_font_embedded.cpp.

#include <QString>

// A path QFontDatabase::addApplicationFont accepts.
QString iconFontFile();
