#pragma once
// The worker's reports to the console window, in order. A console restarted
// mid-burn gets the later ones.

#include "report_protocol.h"

void report(ReportKind kind, int slotIndex, quint64 value);

// The board's trace information (kind 5), sent once at the start of a burn.
void reportTrace(int slotIndex, const QByteArray &bytes);
