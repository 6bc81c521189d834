#pragma once
// Delivery of reports from a worker to the console window with a given
// title. The reports of one sending thread arrive in the order it gives
// them; where the platform has connections, each thread keeps its own from
// report to report.

#include <QByteArray>
#include <QString>

enum class ReportDelivery {
    Handled,     // the console has handled the report
    NoConsole,   // no console with that title: the report is dropped
    Unanswered,  // the console did not answer in time
    Sent,        // posted: the answer is awaited with the next report
};

constexpr int kWaitForAnswer = -1;

// Synchronous: returns once the console has handled the report, or once
// answerWaitMs have passed without an answer (kWaitForAnswer: only when the
// console is gone). A report posted before is answered first, within the
// same wait.
ReportDelivery deliverReport(const QString &windowTitle, quint32 kind, const QByteArray &payload,
                             int answerWaitMs);

// For reports the sender need not wait on (progress): waits, within
// answerWaitMs, only for the answer to a report posted before, then sends
// this one and returns, where the platform allows; its answer is awaited
// when the next report goes out. Handled: the console answered the report
// posted before; Sent: none was waiting for an answer; Unanswered: the
// console left the earlier report (kept for it) unanswered.
ReportDelivery postReport(const QString &windowTitle, quint32 kind, const QByteArray &payload,
                          int answerWaitMs);
