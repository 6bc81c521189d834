#pragma once
// What the console keeps of one burn beyond its T_HISTORY row: who burned
// which board with which image, and why it failed. This is also the row a
// station ships to the central history.

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

struct ImageIdentity {
    QString version;
    QString boardType;
    quint32 tableCrc = 0; // CRC-32 of the FWC table as the file holds it
};

struct BurnTrace {
    qint64 localId = -1;  // this station's id of the row; -1 before it is stored
    qint64 historyId = -1; // the T_HISTORY row, -1 when that insert failed
    QString station;
    QString usbPort;
    QByteArray boardTrace; // the board's trace information; empty when it has none
    QString imageFile;
    ImageIdentity image;
    qint64 beginTime = 0; // seconds since 1970 UTC
    qint64 endTime = 0;
    QString burnDate; // the station's local date of beginTime, "yyyy-MM-dd"
    int usedSeconds = 0;
    int result = 0; // 1 success, 0 failure
    QString failureReason; // the worker's last error line; empty on success
};
Q_DECLARE_METATYPE(BurnTrace)

// A board trace as people read it: the text itself when it is printable
// ASCII, otherwise "0x" and its bytes in hex; empty for none.
QString traceText(const QByteArray &trace);
