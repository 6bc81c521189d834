#pragma once
// Where a burn's identity comes from: the image file, the settings and the
// worker's log.

#include "burn_trace.h"

#include <QDateTime>
#include <QStringList>

class FirmwareImage;
struct SlotRecord;

// Version and board type from the loaded header, and the CRC of the FWC
// table read from the file. A table that cannot be read gives CRC 0 (logged).
ImageIdentity imageIdentity(const FirmwareImage &image);

// "[station] name" of the settings, or the host name when it is empty.
QString stationName();

// "[central] url": a libpq connection string; empty when no central history is kept.
QString centralUrl();

// The last error line of a burn's log, without its level tag and time stamp;
// empty when the log holds none.
QString failureReason(const QStringList &logLines);

// The trace of the burn that just ended in slot, with the failure reason read
// from its worker's log.
BurnTrace burnTrace(const SlotRecord &slot, const ImageIdentity &image, int historyId,
                    const QDateTime &end, bool success);
