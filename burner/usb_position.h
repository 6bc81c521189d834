#pragma once
// A board's USB position as the console writes it: the decimal bus number,
// then up to seven ":"-separated port numbers from the root hub down.

#include <QString>
#include <QtGlobal>

struct UsbPosition {
    quint8 bus = 0;
    quint8 ports[7] = {}; // zero behind the last port, as upg_usb_dev_open takes it
};

// Parses a position. Refuses anything else: empty parts, signs, spaces, more
// than seven ports, a bus above 254 (255 tells the library to take any
// board) and ports outside 1..255 (a 0 would end the path early and name
// another board). Numbers are never cut to fit.
bool parseUsbPosition(const QString &text, UsbPosition *out);
