// Windows: reports travel as WM_COPYDATA to the console window. Built only
// with Qt for Windows.

#include "report_channel.h"
#include "report_delivery_win.h"

ReportDelivery deliverReport(const QString &windowTitle, quint32 kind, const QByteArray &payload,
                             int answerWaitMs)
{
    switch (deliverReportToWindow(reinterpret_cast<const wchar_t *>(windowTitle.utf16()), kind,
                                  payload.constData(), size_t(payload.size()),
                                  answerWaitMs == kWaitForAnswer ? kNoAnswerTimeout
                                                                 : unsigned(answerWaitMs))) {
    case WindowDelivery::Handled:
        return ReportDelivery::Handled;
    case WindowDelivery::NoWindow:
        return ReportDelivery::NoConsole;
    case WindowDelivery::Unanswered:
        break;
    }
    return ReportDelivery::Unanswered;
}

// WM_COPYDATA cannot be posted: a posted report is delivered like any other.
ReportDelivery postReport(const QString &windowTitle, quint32 kind, const QByteArray &payload,
                          int answerWaitMs)
{
    return deliverReport(windowTitle, kind, payload, answerWaitMs);
}
