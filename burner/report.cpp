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
// ten seconds per report.
constexpr int kHungConsoleWaitMs = 200;

bool g_consoleHangs = false;

void deliver(ReportKind kind, const QByteArray &payload, bool post)
{
    // The result is the burn's only lasting trace: it is kept until the
    // console has handled it, however long the console is stopped or busy.
    // The worker ends with its console, so this never outlives it.
    const int waitMs = kind == ReportResult ? kWaitForAnswer
                       : g_consoleHangs     ? kHungConsoleWaitMs
                                            : kAnswerWaitMs;
    const ReportDelivery delivery =
        post ? postReport(consoleWindowTitle(), static_cast<quint32>(kind), payload, waitMs)
             : deliverReport(consoleWindowTitle(), static_cast<quint32>(kind), payload, waitMs);
    // A report only sent tells nothing of the console yet.
    if (delivery != ReportDelivery::Sent)
        g_consoleHangs = delivery == ReportDelivery::Unanswered;
    if (delivery == ReportDelivery::Unanswered)
        qWarning() << "The console did not answer within" << waitMs << "ms (report" << kind
                   << payload << "or the progress before it); going on without it";
}
}  // namespace

void report(ReportKind kind, int slotIndex, quint64 value)
{
    // Progress need not hold the burn while the console handles it: its
    // answer is awaited when the next report goes, with the same bounds.
    // The burn's start (progress 0) changes the slot's state, and is
    // delivered like the other changes.
    const bool post = kind == ReportProgress && value > 0;
    deliver(kind, buildReportPayload(slotIndex, value), post);
}

void reportTrace(int slotIndex, const QByteArray &bytes)
{
    deliver(ReportTrace, buildTracePayload(slotIndex, bytes), false);
}
