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
};

constexpr int kWaitForAnswer = -1;

// Synchronous: returns once the console has handled the report, or once
// answerWaitMs have passed without an answer (kWaitForAnswer: only when the
// console is gone).
ReportDelivery deliverReport(const QString &windowTitle, quint32 kind, const QByteArray &payload,
                             int answerWaitMs);
