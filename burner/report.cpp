#include "report.h"

#include "report_channel.h"

#include <QDebug>

namespace {
// A console handles a report in milliseconds; even a loaded machine writing
// a history row stays far below this. Waiting longer only keeps the board
// held, and an unanswered report is not lost: it stays queued for the
// console and is handled, in order, if the console comes back.
constexpr int kAnswerWaitMs = 10000;
// After an unanswered report the console is taken to hang (as Windows marks
// a window that stops answering), and later reports wait only this long
// until one is answered again: a stopped console costs a burn seconds, not
// ten seconds per chunk.
constexpr int kHungConsoleWaitMs = 200;

bool g_consoleHangs = false;

void deliver(ReportKind kind, const QByteArray &payload)
{
    const int waitMs = g_consoleHangs ? kHungConsoleWaitMs : kAnswerWaitMs;
    const ReportDelivery delivery =
        deliverReport(consoleWindowTitle(), static_cast<quint32>(kind), payload, waitMs);
    g_consoleHangs = delivery == ReportDelivery::Unanswered;
    if (g_consoleHangs)
        qWarning() << "The console did not answer report" << kind << payload << "within" << waitMs
                   << "ms; going on without it";
}
}  // namespace

void report(ReportKind kind, int slotIndex, quint64 value)
{
    deliver(kind, buildReportPayload(slotIndex, value));
}

void reportTrace(int slotIndex, const QByteArray &bytes)
{
    deliver(ReportTrace, buildTracePayload(slotIndex, bytes));
}
