#pragma once
// The export of the burn history as a CSV file, off the GUI thread: a station's
// every day can be millions of rows, and a console that stops answering its
// workers for the seconds they take makes them give up.

#include <QString>

// Writes the burns of date ("yyyy-MM-dd"; empty: every day) from databaseFile,
// earliest first and with their board traces, as CSV to path. Reads through a
// connection of the calling thread's own, beside the console's writes. False
// (logged) on failure.
bool exportHistoryFile(const QString &databaseFile, const QString &date, const QString &path);
