#pragma once
// The boards in upgrade mode that are plugged in now, named by their port
// text: the bus number, then ":" and each port number from the root hub down
// (at most seven), for example "1:2" or "2:1:4". The device address tells
// boards at one port apart: it changes at every enumeration, so a board
// swapped at a port, or restarted, has another one.

#include <QString>
#include <QVector>

struct BoardSighting {
    QString port;
    int address = -1;

    bool operator==(const BoardSighting &other) const
    {
        return port == other.port && address == other.address;
    }
};

// The listed boards, in the library's order, without opening any: a board a
// worker has open is listed too. Empty when there is none or the listing
// fails. Logs the listing at debug level.
QVector<BoardSighting> listBoards();

// Empty when the board at port can be opened now; otherwise why not, in
// words an operator can act on.
QString boardRefusal(const QString &port);
