#pragma once
// The worker's command line: -i slot, -f percent-encoded image path,
// -d USB position or serial port, -t log name, and optionally -day the local
// day of the burn's start ("yyyy-MM-dd"), whose log folder the log goes in
// even when the worker starts after midnight. Without -day the log goes in
// today's folder.

#include <QString>

struct WorkerArgs {
    int slotIndex = -1;
    QString imagePath;
    QString usbPosition;
    QString logName;
    QString logDay;

    // A burn runs only with a slot index of 0 or more, an image and a position.
    bool usable() const { return slotIndex >= 0 && !imagePath.isEmpty() && !usbPosition.isEmpty(); }
};

// Scans one position at a time, so a value is also looked at as an option;
// a later occurrence of an option replaces an earlier one.
WorkerArgs parseWorkerArgs(int argc, const char *const *argv);

// Why usable arguments must still not be used, or an empty text. The position
// and the log name become pieces of the log path and the position picks the
// board, so only a USB position (see parseUsbPosition) or a serial port
// (COMn, an absolute device path of printable characters without "." or ".."
// parts), a decimal start time (or no log name) and a real day in the form
// yyyy-MM-dd (or no day) pass; an image path with a NUL byte would be cut
// there and name another file.
QString workerArgsProblem(const WorkerArgs &args);
