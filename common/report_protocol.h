#pragma once
// What a worker tells the console: a report kind, and the payload text
// "ZEL_<slot>#<value>_TOOL", sent to the window titled consoleWindowTitle().

#include <QByteArray>
#include <QString>

enum ReportKind {
    ReportProgress = 1,  // bytes sent so far
    ReportWaiting = 2,   // the board left the bus; waiting for it
    ReportResumed = 3,   // the wait is over
    ReportResult = 4,    // 1 success, 0 failure
    ReportTrace = 5,     // the board's trace information, in hex
};

// "Zelkora量产工具 v0.1.8": the console's title, by which workers find it.
QString consoleWindowTitle();

// The value is written as a non-negative decimal of any size: progress
// counts pass 2 and 4 GiB.
QByteArray buildReportPayload(int slotIndex, quint64 value);

struct DecodedReport {
    bool valid = false;  // false for a payload without "#"
    int slotIndex = 0;
    qint64 value = 0;  // 64-bit: progress of images above 2 GiB
};

// "ZEL_<slot>#<hex of bytes>_TOOL": the board's own trace information. A
// console that does not know the kind ignores it. Longer traces than
// kMaxTraceBytes do not fit a report in hex.
constexpr int kMaxTraceBytes = 2000;
QByteArray buildTracePayload(int slotIndex, const QByteArray &bytes);

struct DecodedTrace {
    bool valid = false;  // false unless "<slot>#<hex>" with an even run of hex digits
    int slotIndex = 0;
    QByteArray bytes;
};

// Reads at most size bytes, stopping at a NUL; any other text is refused.
DecodedTrace decodeTracePayload(const char *data, int size);

// Reads at most size bytes and stops early at a NUL. "ZEL_" and "_TOOL" are
// removed, the rest split at "#"; parts that are not numbers (a negative
// value included) give 0.
DecodedReport decodeReportPayload(const char *data, int size);
