#pragma once
// Burn records as a CSV file for spreadsheets: UTF-8 with a byte order mark (so
// spreadsheet programs read the Chinese text), a header row, then one row per
// burn with port, image, start time, used seconds, result, the absolute path
// of its log file and the board's trace. Lines end in CRLF; fields are quoted where CSV needs it.

#include "history_record.h"

#include <QString>

#include <functional>

// Hands every burn to export, earliest first, to the visitor it is given
// until that answers false; false when the burns could not all be read.
using HistoryRowSource =
    std::function<bool(const std::function<bool(const HistoryRecord &)> &visit)>;

// Streams the rows to path through a temporary file beside it, so a failed
// write leaves what was there untouched and no day is held in memory whole.
// Returns false (logged) on failure.
bool writeHistoryCsv(const QString &path, const HistoryRowSource &rows);
