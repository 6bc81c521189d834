#pragma once
// How the console finds and reads the log that a burn's worker wrote.

#include "history_record.h"

#include <QString>
#include <QtGlobal>

// The burn's log file relative to the "log" folder: the local date of the start,
// the port text with every ':' as '#', and the start in seconds since 1970 UTC,
// e.g. "2024-05-06/1#2#4/1714990000.log". The worker builds the same path from
// the port and start time the console gave it.
QString burnLogPath(const HistoryRecord &record);

// The level of one log line, from the tag the log handler writes at its very
// start: "[error]" and "[fatal]" are critical, "[warn ]" a warning, anything
// else (a tag further into the line included) debug.
QtMsgType burnLogLineLevel(const QString &line);
