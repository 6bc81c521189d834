#pragma once
// The worker's command line: -i slot, -f percent-encoded image path,
// -d USB position, -t log name.

#include <QString>

struct WorkerArgs {
    int slotIndex = -1;
    QString imagePath;
    QString usbPosition;
    QString logName;

    // A burn runs only with a slot index of 0 or more, an image and a position.
    bool usable() const { return slotIndex >= 0 && !imagePath.isEmpty() && !usbPosition.isEmpty(); }
};

// Scans one position at a time, so a value is also looked at as an option;
// a later occurrence of an option replaces an earlier one.
WorkerArgs parseWorkerArgs(int argc, const char *const *argv);
