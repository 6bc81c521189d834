#include "command_line.h"

#include "app_info.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

void handleConsoleCommandLine(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Veldmark"));
    QCoreApplication::setApplicationVersion(AppInfo::versionText());
    QStringList arguments;
    for (int i = 0; i < argc; i++)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Operator console: burns the chosen image into every board plugged into the line."));
    parser.addHelpOption();
    parser.addVersionOption();
    // Unknown options are Qt's own (-platform, -style): not refused here.
    parser.parse(arguments);
    const bool version = parser.isSet(QStringLiteral("version"));
    if (!version && !parser.isSet(QStringLiteral("help")))
        return;
    // The help text is built from the application object's arguments; no
    // window system is needed for it.
    QCoreApplication app(argc, argv);
    if (version)
        parser.showVersion();
    parser.showHelp(0);
}
