#include "console_options.h"

#include "veldmark_version.h"

ConsoleOptions parseConsoleOptions(const QStringList &arguments)
{
    ConsoleOptions options;
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            options.help = true;
        else if (argument == QLatin1String("--version"))
            options.version = true;
        else if (argument == QLatin1String("--verbose"))
            options.verbose = true;
        else if (options.unknown.isEmpty())
            options.unknown = argument;
    }
    return options;
}

QString consoleHelpText()
{
    return QStringLiteral(
        "Usage: veldmark [--verbose]\n"
        "\n"
        "The Veldmark operator console: burns a firmware image into every board\n"
        "in USB burn mode (33c3:6677) at once, one slot and one ZelBurner worker\n"
        "per USB port. Boards already plugged in when the console starts and\n"
        "boards plugged in later are both found and burned.\n"
        "\n"
        "The console keeps its settings (Veldmark.ini), its history (data.db) and\n"
        "its logs (the log folder, one folder per day) in the current directory;\n"
        "the veldmark launcher first changes to $XDG_DATA_HOME/veldmark\n"
        "(~/.local/share/veldmark).\n"
        "\n"
        "Options:\n"
        "  --verbose   also echo every log line to standard output when it is not\n"
        "              a terminal (on a terminal it always is)\n"
        "  -h, --help  show this help and end\n"
        "  --version   show the version and end\n"
        "\n"
        "Qt's own options, such as -platform, are accepted as well.\n");
}

QString consoleVersionText()
{
    return QStringLiteral("veldmark " VELDMARK_VERSION "\n");
}
