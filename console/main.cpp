#include "application_font.h"
#include "console_options.h"
#include "console_resources.h"
#include "logger.h"
#include "veldmark.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

int main(int argc, char *argv[])
{
    // --help and --version are answered before the application exists, so
    // that they work without a display (and for the manual page's build).
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ConsoleOptions early = parseConsoleOptions(arguments);
    if (early.help || early.version) {
        std::fputs(qPrintable(early.help ? consoleHelpText() : consoleVersionText()), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    const ConsoleOptions options = parseConsoleOptions(QApplication::arguments().mid(1));
    if (!options.unknown.isEmpty()) {
        std::fprintf(stderr, "veldmark: unknown argument \"%s\" (see \"veldmark --help\")\n",
                     qPrintable(options.unknown));
        return 2;
    }
    Logger::setAlwaysEcho(options.verbose);
    initConsoleResources();
    installApplicationFont();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/image/veldmark.ico")));
    Veldmark window;
    window.show();
    return app.exec();
}
