#pragma once
// Opens a log file for appending without following a symbolic link planted
// in its place; only a regular file (created when missing) is opened.

#include <QString>

class QFile;

// Opens file on path for writing in append and text mode. False, with file
// left closed, when path is a link, not a regular file or cannot be opened.
bool openLogFileNoFollow(QFile *file, const QString &path);
