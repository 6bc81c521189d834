#include "burn_identity.h"

#include "burn_log.h"
#include "firmware_image.h"
#include "image_format.h"
#include "log_files.h"
#include "settings_store.h"
#include "slot_record.h"

#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>

#include <zlib.h>

ImageIdentity imageIdentity(const FirmwareImage &image)
{
    ImageIdentity identity;
    identity.version = image.version();
    identity.boardType = image.product();
    QFile file(image.path());
    const qint64 tableSize = qint64(image.fwcCount()) * FWC_META_DISK_SIZE;
    QByteArray table;
    if (file.open(QIODevice::ReadOnly) && file.seek(IMAGE_META_OFFSET))
        table = file.read(tableSize);
    if (tableSize == 0 || table.size() != tableSize) {
        qWarning() << "Failed to read the FWC table of" << image.path() << "for its CRC";
        return identity;
    }
    identity.tableCrc = static_cast<quint32>(
        crc32(0L, reinterpret_cast<const Bytef *>(table.constData()), static_cast<uInt>(table.size())));
    return identity;
}

// Read once: a station keeps its name while its console runs, and a read of
// the settings at every result waited for the counters' file writes.
QString stationName()
{
    static const QString station = [] {
        const QString name =
            SettingsStore::instance()->value(QStringLiteral("station"), QStringLiteral("name")).trimmed();
        return name.isEmpty() ? QSysInfo::machineHostName() : name;
    }();
    return station;
}

QString centralUrl()
{
    return SettingsStore::instance()->value(QStringLiteral("central"), QStringLiteral("url")).trimmed();
}

QString failureReason(const QStringList &logLines)
{
    static const QRegularExpression stamp(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] "));
    for (int i = logLines.size() - 1; i >= 0; --i) {
        const QString &line = logLines.at(i);
        if (!line.startsWith(QLatin1String("[error] ")) && !line.startsWith(QLatin1String("[fatal] ")))
            continue;
        QString text = line.mid(8);
        text.remove(stamp);
        return text.trimmed();
    }
    return QString();
}

BurnTrace burnTrace(const SlotRecord &slot, const ImageIdentity &image, int historyId,
                    const QDateTime &end, bool success)
{
    // As the history row: a slot that never started counts from its end.
    const QDateTime begin = slot.startTime.isValid() ? slot.startTime : end;
    BurnTrace trace;
    trace.historyId = historyId;
    trace.station = stationName();
    trace.usbPort = slot.portText;
    trace.boardTrace = slot.boardTrace;
    trace.imageFile = slot.imageName;
    trace.image = image;
    trace.beginTime = begin.toSecsSinceEpoch();
    trace.endTime = end.toSecsSinceEpoch();
    trace.burnDate = begin.toString(QStringLiteral("yyyy-MM-dd"));
    trace.usedSeconds = static_cast<int>(begin.secsTo(end));
    trace.result = success ? 1 : 0;
    if (!success) {
        HistoryRecord record;
        record.usbPort = slot.portText;
        record.beginTime = begin;
        trace.failureReason = failureReason(readLogFile(burnLogPath(record)));
        if (trace.failureReason.isEmpty())
            trace.failureReason = QStringLiteral("no error in the worker's log");
    }
    return trace;
}
