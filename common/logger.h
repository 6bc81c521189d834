#pragma once
// The process-wide log file below "log"/<date>/ and the message handler that
// writes every Qt message, prefixed and time-stamped, to it and echoes it to
// standard output when that is a terminal (or when asked to).

#include <QString>
#include <QtGlobal>

class Logger
{
public:
    // Console form: opens log/<date>/<name>.log (the console passes "main").
    explicit Logger(const QString &name);
    // Worker form: opens log/<day>/<board with ':' as '#'>/<name>.log, day
    // being "yyyy-MM-dd" of the burn's start, or today when empty.
    Logger(const QString &board, const QString &name, const QString &day = QString());
    // Closes the log.
    ~Logger();
    Logger(const Logger &) = delete;
    Logger &operator=(const Logger &) = delete;

    // Destroys the stream, flushes and closes the file. Safe when nothing is open.
    static void close();
    static bool isOpen();

    // Echo to standard output even when it is no terminal (the console's
    // --verbose). Otherwise a program started from the menu would copy its
    // whole log into the session journal. Takes effect when a log is opened.
    static void setAlwaysEcho(bool always);
};

// Installed right after the log has been opened; drops messages while no log is open.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
void installLogMessageHandler();

// "[debug] ", "[info ] ", "[warn ] ", "[error] " or "[fatal] ".
const char *logLevelPrefix(QtMsgType type);
