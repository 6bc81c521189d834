#pragma once
// Console-side access to the log tree: read or remove one burn's log, and
// purge the burn logs of chosen days while each day's "main.log" stays.

#include <QString>
#include <QStringList>

// Relative paths are taken below "log" in the current working directory.
// removeLogFile refuses a path whose folders pass through a symbolic link.
QStringList readLogFile(const QString &relativePath);
void removeLogFile(const QString &relativePath);

// Clears every day directory (named "yyyy-MM-dd", nothing else) whose name is
// greater than the cutoff, or every day directory when the cutoff is empty; a
// day entry that is a symbolic link is skipped, and so is the log of a burn
// still running (see logFileInUse).
void purgeLogDirs(const QString &cutoff);

// Deletes every file below path except files named "main.log" and logs still
// in use; directories left without either are removed, with parents that became empty, up
// to but never including the "log" root. Symbolic links are never followed:
// a link found inside is removed itself, and a path that is a link is left alone.
void clearLogTree(const QString &path);
