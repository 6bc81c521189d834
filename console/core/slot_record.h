#pragma once
// What the console knows of one slot of the device grid, without any widget:
// the board's port text, the image being burned, where the burn stands.

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Stored numbers of the slot states; the history and the slot widget use them too.
enum SlotState {
    SlotDisconnected = 1,
    SlotLinked = 2,
    SlotBurning = 3,
    SlotWaitingReboot = 4,
    SlotSucceeded = 5,
    SlotFailed = 6,
};

struct SlotRecord {
    QString portText;  // empty when no board is bound
    QString imageName; // file name of the image being burned
    int state = SlotDisconnected;
    bool present = true; // seen in the latest rescan
    QDateTime startTime; // local time the current burn started
    int progress = 0;    // percent
    QByteArray boardTrace; // the board's own identity, as its worker read it

    void reset()
    {
        portText.clear();
        imageName.clear();
        state = SlotDisconnected;
        progress = 0;
        boardTrace.clear();
    }
};
