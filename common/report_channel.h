#pragma once
// Delivery of one report from a worker to the console window with a given
// title. Synchronous: returns once the console has handled the report, or
// once answerWaitMs have passed without an answer (kWaitForAnswer: only when
// the console is gone).

#include <QByteArray>
#include <QString>

enum class ReportDelivery {
    Handled,     // the console has handled the report
    NoConsole,   // no console with that title: the report is dropped
    Unanswered,  // the console did not answer in time
};

constexpr int kWaitForAnswer = -1;

ReportDelivery deliverReport(const QString &windowTitle, quint32 kind, const QByteArray &payload,
                             int answerWaitMs);
