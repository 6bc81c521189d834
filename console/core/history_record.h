#pragma once
// One finished burn as stored in the history table.

#include <QByteArray>
#include <QDateTime>
#include <QString>

struct HistoryRecord {
    int id = -1; // -1: no such row
    QString usbPort;
    QString imageFile;
    QDateTime beginTime; // local time
    int usedSeconds = 0;
    int result = 0; // 1 success, 0 failure
    QByteArray boardTrace; // from the trace table (TraceStore::attachTraces); empty for none
};
