#include "command_line.h"

#include "app_info.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

bool handleConsoleCommandLine(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("Veldmark"));
    QCoreApplication::setApplicationVersion(AppInfo::versionText());
    QStringList arguments;
    for (int i = 0; i < argc; i++)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The Veldmark operator console: burns a firmware image into every board in USB\n"
        "burn mode (33c3:6677) at once, one slot and one ZelBurner worker per USB port.\n"
        "Boards already plugged in when the console starts and boards plugged in later\n"
        "are both found and burned.\n"
        "\n"
        "The console keeps its settings (Veldmark.ini), its history (data.db) and its\n"
        "logs (the log folder, one folder per day) in the current directory; the\n"
        "veldmark launcher first changes to $XDG_DATA_HOME/veldmark\n"
        "(~/.local/share/veldmark). Qt's own options, such as -platform, are accepted\n"
        "as well."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Also echo every log line to standard output when it is not a terminal."));
    parser.addOption(verbose);
    // Unknown options are Qt's own (-platform, -style): not refused here.
    parser.parse(arguments);
    const bool version = parser.isSet(QStringLiteral("version"));
    if (!version && !parser.isSet(QStringLiteral("help")))
        return parser.isSet(verbose);
    // The help text is built from the application object's arguments; no
    // window system is needed for it.
    QCoreApplication app(argc, argv);
    if (version)
        parser.showVersion();
    parser.showHelp(0);
}
