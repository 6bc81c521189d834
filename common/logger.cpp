#include "logger.h"

#include "log_file_open.h"
#include "terminal.h"

#include <QDate>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>

#include <cstdio>

namespace {
QFile *g_logFile = nullptr;
QTextStream *g_logStream = nullptr;
QMutex g_logLock;
bool g_alwaysEcho = false;
bool g_echo = false; // decided when the log is opened

// Enters dir/name, creating it when needed. A symbolic link standing there
// is refused, never followed: the log stays inside the "log" folder.
bool enterOrCreate(QDir &dir, const QString &name, bool followLink = false)
{
    if (!followLink && QFileInfo(dir.filePath(name)).isSymLink())
        return false;
    if (dir.cd(name))
        return true;
    // Another process may have created it between the two calls.
    dir.mkdir(name);
    return dir.cd(name);
}

void openLog(const QString *board, const QString &name, const QString &day)
{
    Logger::close();
    QDir dir = QDir::current();
    // The "log" folder itself may be a link the operator set up to keep the
    // logs elsewhere; below it nothing is followed.
    if (!enterOrCreate(dir, QStringLiteral("log"), true)) {
        qCritical() << "Failed to create log path!";
        return;
    }
    const QString dayFolder =
        day.isEmpty() ? QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) : day;
    if (!enterOrCreate(dir, dayFolder)) {
        qCritical() << "Failed to create date log path!";
        return;
    }
    if (board) {
        QString boardDir = *board;
        // One folder per board: a serial port's path ("/dev/ttyUSB0") must
        // not become folders of its own.
        boardDir.replace(QLatin1Char(':'), QLatin1Char('#'));
        boardDir.replace(QLatin1Char('/'), QLatin1Char('#'));
        boardDir.replace(QLatin1Char('\\'), QLatin1Char('#'));
        if (!enterOrCreate(dir, boardDir)) {
            qCritical() << "Failed to create dev path!";
            return;
        }
    }
    const QString path = dir.absoluteFilePath(name + QStringLiteral(".log"));
    qDebug() << "Log file:" << path;

    auto *file = new QFile(path);
    if (!openLogFileNoFollow(file, path)) {
        qWarning() << "Failed to open logfile:" << path;
        delete file;
        return;
    }
    QMutexLocker locker(&g_logLock);
    g_logFile = file;
    g_logStream = new QTextStream(g_logFile);
    g_echo = g_alwaysEcho || standardOutputIsTerminal();
}
}  // namespace

Logger::Logger(const QString &name)
{
    openLog(nullptr, name, QString());
}

Logger::Logger(const QString &board, const QString &name, const QString &day)
{
    openLog(&board, name, day);
}

Logger::~Logger()
{
    close();
}

void Logger::close()
{
    QMutexLocker locker(&g_logLock);
    delete g_logStream;
    g_logStream = nullptr;
    if (g_logFile) {
        g_logFile->flush();
        g_logFile->close();
        delete g_logFile;
        g_logFile = nullptr;
    }
}

void Logger::setAlwaysEcho(bool always)
{
    QMutexLocker locker(&g_logLock);
    g_alwaysEcho = always;
}

bool Logger::isOpen()
{
    QMutexLocker locker(&g_logLock);
    return g_logStream != nullptr;
}

const char *logLevelPrefix(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "[debug] ";
    case QtWarningMsg:
        return "[warn ] ";
    case QtCriticalMsg:
        return "[error] ";
    case QtFatalMsg:
        return "[fatal] ";
    case QtInfoMsg:
        return "[info ] ";
    }
    return "[debug] ";
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    QMutexLocker locker(&g_logLock);
    if (!g_logStream)
        return;

    // Leading line feeds move in front of the prefix, so "\nX" gives an
    // empty line, then the prefixed X.
    int feeds = 0;
    while (feeds < message.size() && message.at(feeds) == QLatin1Char('\n'))
        ++feeds;
    const QString prefix = QString(feeds, QLatin1Char('\n')) + QLatin1String(logLevelPrefix(type));
    const QString text = message.mid(feeds);

    if (g_echo) {
        std::printf("%s%s\n", prefix.toLatin1().constData(), text.toLatin1().constData());
        std::fflush(stdout);
    }

    const QString stamp = QLatin1Char('[')
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
        + QStringLiteral("] ");
    *g_logStream << prefix << stamp << text << '\n';
    g_logStream->flush();
}

void installLogMessageHandler()
{
    qInstallMessageHandler(logMessageHandler);
}
