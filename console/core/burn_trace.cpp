#include "burn_trace.h"

QString traceText(const QByteArray &trace)
{
    for (const char c : trace) {
        if (c < 0x20 || c > 0x7e)
            return QStringLiteral("0x") + QString::fromLatin1(trace.toHex());
    }
    return QString::fromLatin1(trace);
}
