#pragma once
// Burn records as a CSV file for spreadsheets: UTF-8 with a byte order mark (so
// spreadsheet programs read the Chinese text), a header row, then one row per
// burn with port, image, start time, used seconds, result, the absolute path
// of its log file and the board's trace. Lines end in CRLF; fields are quoted where CSV needs it.

#include "history_record.h"

#include <QByteArray>
#include <QList>
#include <QString>

QByteArray historyCsv(const QList<HistoryRecord> &records);

// Writes historyCsv(records) to path through a temporary file beside it, so a
// failed write leaves what was there untouched. Returns false (logged) on failure.
bool writeHistoryCsv(const QString &path, const QList<HistoryRecord> &records);
