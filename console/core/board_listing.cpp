#include "board_listing.h"

#include "upg_device.h"

#include <QDebug>

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

} // namespace

QStringList listBoardPorts()
{
    upg_usb_dev_entry *table = nullptr;
    const int count = upg_usb_dev_get_list(&table);
    if (count < 0) {
        qDebug() << "No device available";
        return {};
    }
    qDebug() << "There are" << count << "device available";
    QStringList ports;
    for (int i = 0; i < count; i++) {
        const QString port = portText(table[i]);
        qDebug() << "dev" << i << ":" << port;
        ports.append(port);
    }
    return ports;
}
