#pragma once
// The boards in upgrade mode that are plugged in now, named by their port
// text: the bus number, then ":" and each port number from the root hub down
// (at most seven), for example "1:2" or "2:1:4".

#include <QStringList>

// Port texts of the boards the library can open, in the library's order;
// empty when there is none or the listing fails. Logs the listing at debug level.
QStringList listBoardPorts();
