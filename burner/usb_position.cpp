#include "usb_position.h"

#include <QStringList>

namespace {
// A decimal number of one to three digits, so it cannot overflow.
bool readSmallNumber(const QString &text, int *value)
{
    if (text.isEmpty() || text.size() > 3)
        return false;
    int n = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        n = n * 10 + (c.unicode() - '0');
    }
    *value = n;
    return true;
}
}  // namespace

bool parseUsbPosition(const QString &text, UsbPosition *out)
{
    const QStringList parts = text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    constexpr int kMaxPorts = int(sizeof(UsbPosition::ports));
    if (parts.size() > 1 + kMaxPorts)
        return false;
    UsbPosition position;
    int bus = 0;
    if (!readSmallNumber(parts.at(0), &bus) || bus > 254)
        return false;
    position.bus = static_cast<quint8>(bus);
    for (int i = 1; i < parts.size(); ++i) {
        int port = 0;
        if (!readSmallNumber(parts.at(i), &port) || port < 1 || port > 255)
            return false;
        position.ports[i - 1] = static_cast<quint8>(port);
    }
    *out = position;
    return true;
}
