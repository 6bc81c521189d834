#pragma once
// The style sheet (and, where the build embeds it, the application font) is
// compiled into the console's GUI library; programs that link it call
// initConsoleResources once first.

#include <QString>

void initConsoleResources();
// The one application style sheet (":/qss/style.qss"); empty when unreadable.
QString consoleStyleSheet();
