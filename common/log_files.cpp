#include "log_files.h"

#include "log_file_open.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QDate>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

namespace {
const QString kLogRoot = QStringLiteral("log");

QString logPath(const QString &relativePath)
{
    return kLogRoot + QLatin1Char('/') + relativePath;
}

// True when a folder on the way from the log root to relativePath is a
// symbolic link: the path then leads out of the log tree.
bool passesThroughLink(const QString &relativePath)
{
    const QStringList parts = relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString walked = kLogRoot;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        walked += QLatin1Char('/') + parts.at(i);
        if (QFileInfo(walked).isSymLink())
            return true;
    }
    return false;
}

// Removes path and its parents while they are empty, stopping below the log
// root so that a purge never climbs out of the log tree.
void removeEmptyUpToLogRoot(const QString &path)
{
    const QString root = QDir(kLogRoot).absolutePath();
    QDir dir(path);
    while (QDir::cleanPath(dir.absolutePath()) != root
           && dir.absolutePath().startsWith(root + QLatin1Char('/'))) {
        const QString name = dir.dirName();
        if (!dir.cdUp() || !dir.rmdir(name))
            break;
    }
}

// Only folders the loggers make are purged; "archive" or "2026-12-07.bak"
// belong to someone else.
bool isDayFolderName(const QString &name)
{
    static const QRegularExpression dayPattern(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    return dayPattern.match(name).hasMatch() &&
           QDate::fromString(name, QStringLiteral("yyyy-MM-dd")).isValid();
}

// Returns true when this directory must stay because it holds a "main.log"
// or the log of a running burn.
bool clearDirectory(const QString &path)
{
    bool keep = false;
    QDir dir(path);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const QString entryPath = path + QLatin1Char('/') + entry.fileName();
        // A link is removed itself, never entered.
        if (entry.isDir() && !entry.isSymLink()) {
            clearLogTree(entryPath);
        } else if (entry.fileName() == QLatin1String("main.log")) {
            keep = true;
        } else if (logFileInUse(entryPath)) {
            // A burn still writes it; its row comes later and must find it.
            qDebug() << "Keep the log of a running burn:" << entryPath;
            keep = true;
        } else if (QFile::remove(entryPath)) {
            qDebug() << "Remove file:" << entryPath;
        }
    }
    return keep;
}
}  // namespace

QStringList readLogFile(const QString &relativePath)
{
    QStringList lines;
    const QString path = logPath(relativePath);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qCritical() << "Failed to open log file:" << path;
        return lines;
    }
    qDebug() << "Open log file:" << path;
    QTextStream in(&file);
    while (!in.atEnd())
        lines << in.readLine();
    return lines;
}

void removeLogFile(const QString &relativePath)
{
    const QString path = logPath(relativePath);
    if (passesThroughLink(relativePath)) {
        qWarning() << "Not removing a log behind a symbolic link:" << path;
        return;
    }
    if (QFile::exists(path) && QFile::remove(path))
        qDebug() << "Remove log file:" << path;
}

void clearLogTree(const QString &path)
{
    if (path.isEmpty())
        return;
    if (QFileInfo(path).isSymLink()) {
        qWarning() << "Not clearing a symbolic link:" << path;
        return;
    }
    if (!QFileInfo(path).isDir()) {
        qCritical() << "Dir not existed" << path;
        return;
    }
    if (clearDirectory(path))
        return;
    removeEmptyUpToLogRoot(path);
    qDebug() << "Remove dir:" << path;
}

void purgeLogDirs(const QString &cutoff)
{
    const QDir root(kLogRoot);
    // A day folder that is a link leads out of the log tree: it is skipped.
    const QFileInfoList days =
        root.entryInfoList(QDir::Dirs | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &day : days) {
        const QString name = day.fileName();
        if (!isDayFolderName(name))
            continue;
        if (cutoff.isEmpty() || name > cutoff)
            clearLogTree(day.absoluteFilePath());
    }
}
