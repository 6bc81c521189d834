#include "report_protocol.h"

#include "veldmark_version.h"

#include <QStringList>

#include <cctype>
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

namespace
{
// The payload's bytes up to its first NUL; nothing beyond size is read.
QByteArray payloadBytes(const char *data, int size)
{
    if (!data || size <= 0)
        return QByteArray();
    const void *nul = std::memchr(data, 0, static_cast<size_t>(size));
    return QByteArray(data, nul ? static_cast<int>(static_cast<const char *>(nul) - data) : size);
}
} // namespace

DecodedReport decodeReportPayload(const char *data, int size)
{
    DecodedReport report;
    QString text = QString::fromUtf8(payloadBytes(data, size));
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

QByteArray buildTracePayload(int slotIndex, const QByteArray &bytes)
{
    return "ZEL_" + QByteArray::number(slotIndex) + '#' + bytes.toHex() + "_TOOL";
}

DecodedTrace decodeTracePayload(const char *data, int size)
{
    DecodedTrace trace;
    const QByteArray text = payloadBytes(data, size);
    if (!text.startsWith("ZEL_") || !text.endsWith("_TOOL"))
        return trace;
    const QByteArray body = text.mid(4, text.size() - 9);
    const int hash = body.indexOf('#');
    if (hash <= 0)
        return trace;
    bool number = false;
    const int slot = body.left(hash).toInt(&number);
    const QByteArray hex = body.mid(hash + 1);
    // QByteArray::fromHex skips what is not a digit; a damaged payload must not
    // become some other board's identity.
    if (!number || slot < 0 || hex.size() % 2 != 0)
        return trace;
    for (const char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return trace;
    }
    trace.valid = true;
    trace.slotIndex = slot;
    trace.bytes = QByteArray::fromHex(hex);
    return trace;
}
