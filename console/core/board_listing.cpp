#include "board_listing.h"

#include "upg_device.h"

#include <QDebug>
#include <QStringList>

#include <cstring>

namespace
{

// Zero entries are skipped: the library fills the path with zeros behind its
// last port number, and the record holds no more than seven numbers.
QString portText(const upg_usb_dev_entry &entry)
{
    QString text = QString::number(entry.bus);
    for (int i = 0; i < UPG_PORT_PATH_LEN; i++) {
        if (entry.port_path[i] != 0)
            text += QLatin1Char(':') + QString::number(entry.port_path[i]);
    }
    return text;
}

// The bus and path of a port text; false for one no listing makes.
bool parsePort(const QString &port, uint8_t *bus, uint8_t *path)
{
    const QStringList parts = port.split(QLatin1Char(':'));
    if (parts.size() < 2 || parts.size() > UPG_PORT_PATH_LEN + 1)
        return false;
    std::memset(path, 0, UPG_PORT_PATH_LEN);
    for (int i = 0; i < parts.size(); ++i) {
        bool ok = false;
        const uint number = parts[i].toUInt(&ok);
        if (!ok || number > 255)
            return false;
        if (i == 0)
            *bus = static_cast<uint8_t>(number);
        else
            path[i - 1] = static_cast<uint8_t>(number);
    }
    return true;
}

} // namespace

QVector<BoardSighting> listBoards()
{
    upg_usb_dev_entry *table = nullptr;
    const int count = upg_usb_dev_scan(&table);
    if (count <= 0) {
        qDebug() << "No device available";
        return {};
    }
    qDebug() << "There are" << count << "device available";
    QVector<BoardSighting> boards;
    for (int i = 0; i < count; i++) {
        const QString port = portText(table[i]);
        qDebug() << "dev" << i << ":" << port;
        boards.append({port, table[i].dev_addr});
    }
    return boards;
}

QString boardRefusal(const QString &port)
{
    uint8_t bus = 0;
    uint8_t path[UPG_PORT_PATH_LEN];
    if (!parsePort(port, &bus, path))
        return QStringLiteral("not a board position");
    switch (upg_usb_dev_check(bus, path)) {
    case UPG_USB_USABLE:
        return QString();
    case UPG_USB_NO_PERMISSION:
        return QStringLiteral(UPG_USB_ACCESS_HINT);
    case UPG_USB_IN_USE:
        return QStringLiteral(UPG_USB_IN_USE_HINT);
    case UPG_USB_GONE:
        return QStringLiteral("it left the bus before it could be opened");
    default:
        return QStringLiteral("it cannot be opened: plug the board again");
    }
}
