#pragma once
// Shared by the history and settings page tests. The whole test process runs in
// one temporary working directory, since the settings store and the history
// database bind to "Veldmark.ini" and "data.db" there at first use.

#include <QDateTime>
#include <QString>

#include <functional>

class QTableView;

// Today as the pages are told it in these tests.
QDate testToday();
// Local date-time on day offset days before testToday(), at hh:mm.
QDateTime dayTime(int daysBefore, int hour, int minute = 0);

// Empties T_HISTORY and the log tree.
void clearHistoryAndLogs();
// Stores one burn; returns its id.
int insertBurn(const QString &port, const QString &image, const QDateTime &begin, int usedSeconds,
               bool success);
// Writes text to path (relative to the working directory), creating folders.
void writeTextFile(const QString &path, const QByteArray &text);
QByteArray readFile(const QString &path);
// Makes every DELETE on T_HISTORY fail, or lets it work again.
void makeHistoryDeletesFail(bool fail);

// Runs action and answers the alert it shows with "确定"; returns the alert's
// text, or an empty text when no alert came.
QString alertTextOf(const std::function<void()> &action);

// Clicks a button (0 log, 1 delete) drawn in the button cell of a history
// table row, where the operator's mouse would; the table's window is shown.
void clickRowButton(QTableView *table, int row, int index);
