// realusb-discovery: the console's board discovery (its device monitor and
// board listing) over the system's libusb, for the real-USB-stack guest.
// Prints "watching" once it watches, "change arrival" or "change removal"
// for each device change and "listed PORT..." after each round of changes,
// as the console lists boards then. Ends after SECONDS (default 60).
#include "board_listing.h"
#include "device_change.h"
#include "device_monitor.h"
#include "upg_device.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

static QString listedPorts()
{
    QStringList ports;
    for (const BoardSighting &board : listBoards())
        ports.append(board.port);
    return ports.join(QLatin1Char(' '));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (libzelupg_init() != 0)
        return 1;
    DeviceMonitor monitor;
    QObject::connect(&monitor, &DeviceMonitor::deviceChanged, [](int change) {
        if (change == DeviceArrival)
            std::printf("change arrival\n");
        else if (change == DeviceRemoveComplete)
            std::printf("change removal\n");
        else if (change == DeviceNodesChanged)
            std::printf("listed %s\n", qPrintable(listedPorts()));
    });
    if (!monitor.start())
        return 1;
    std::printf("watching\n");
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    const int rc = app.exec();
    libzelupg_exit();
    return rc;
}
