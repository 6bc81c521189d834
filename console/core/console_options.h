#pragma once
// The console's command line: --help and --version answer and end the
// program, --verbose echoes the log to standard output even when it is no
// terminal. Qt's own options (-platform and so on) are taken by QApplication
// before these are read.

#include <QString>
#include <QStringList>

struct ConsoleOptions {
    bool help = false;
    bool version = false;
    bool verbose = false;
    QString unknown; // the first argument not understood, if any
};

// Parses the arguments after the program name.
ConsoleOptions parseConsoleOptions(const QStringList &arguments);

QString consoleHelpText();
// "veldmark 0.1.8", for --version.
QString consoleVersionText();
