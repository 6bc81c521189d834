#pragma once
// Opens a log file for appending without following a symbolic link planted
// in its place; only a regular file (created when missing) is opened. The
// open file holds a shared lock for as long as it is open, so the console's
// log purge can tell the log of a burn still running and leave it.

#include <QString>

class QFile;

// Opens file on path for writing in append and text mode. False, with file
// left closed, when path is a link, not a regular file or cannot be opened.
bool openLogFileNoFollow(QFile *file, const QString &path);

// True while a process holds path open as its log (through openLogFileNoFollow).
bool logFileInUse(const QString &path);
