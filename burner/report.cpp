#include "report.h"

#include "report_channel.h"

void report(ReportKind kind, int slotIndex, quint64 value)
{
    deliverReport(consoleWindowTitle(), static_cast<quint32>(kind), buildReportPayload(slotIndex, value));
}
