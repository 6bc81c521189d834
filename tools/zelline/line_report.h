#pragma once
// The line report over the central history: each report is a table of text
// cells, printed as aligned columns for a terminal or as CSV.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

class CentralLink;

struct ReportTable {
    QStringList header;
    QVector<QStringList> rows;
};

// Burns, passes, failures and yield per day, station and image (board type,
// version and table CRC; the file name is shown, not grouped by). Days from
// and to ("yyyy-MM-dd") bound the report when not empty.
bool yieldReport(CentralLink &link, const QString &from, const QString &to, ReportTable *table);
// Every failed burn with its reason, oldest first.
bool failureReport(CentralLink &link, const QString &from, const QString &to, ReportTable *table);
// Every burn of the board whose trace is trace, taken as the trace's text or,
// when it is hex (with or without "0x"), as its bytes; oldest first.
bool boardReport(CentralLink &link, const QString &trace, ReportTable *table);

// Columns padded to their widest cell (wide characters count twice).
QByteArray asTerminalTable(const ReportTable &table);
// UTF-8, header first, CRLF line ends, quoted where CSV needs it.
QByteArray asCsv(const ReportTable &table);
