#include "report_protocol.h"

#include "veldmark_version.h"

#include <QStringList>

#include <cstring>
#include <limits>

QString consoleWindowTitle()
{
    return QStringLiteral("Zelkora量产工具") + QStringLiteral(" v")
        + QStringLiteral("%1.%2.%3").arg(VeldmarkVersion::kMajor)
               .arg(VeldmarkVersion::kMinor)
               .arg(VeldmarkVersion::kPatch);
}

QByteArray buildReportPayload(int slotIndex, quint64 value)
{
    return QStringLiteral("ZEL_%1#%2_TOOL").arg(slotIndex).arg(value).toUtf8();
}

DecodedReport decodeReportPayload(const char *data, int size)
{
    DecodedReport report;
    if (!data || size <= 0)
        return report;
    const void *nul = std::memchr(data, 0, static_cast<size_t>(size));
    const int length = nul ? static_cast<int>(static_cast<const char *>(nul) - data) : size;

    QString text = QString::fromUtf8(data, length);
    text.remove(QStringLiteral("ZEL_"));
    text.remove(QStringLiteral("_TOOL"));
    const QStringList parts = text.split(QLatin1Char('#'), Qt::KeepEmptyParts);
    if (parts.size() < 2)
        return report;
    report.valid = true;
    report.slotIndex = parts.at(0).toInt();
    bool isSigned = false;
    report.value = parts.at(1).toLongLong(&isSigned);
    // A count beyond the signed range (a worker sends up to 2^64 - 1) stays
    // larger than any image, so the console drops it rather than reading 0.
    bool isUnsigned = false;
    if (!isSigned && (parts.at(1).toULongLong(&isUnsigned), isUnsigned))
        report.value = std::numeric_limits<qint64>::max();
    return report;
}
