// Board discovery on the in-process virtual bus: what the device monitor
// announces while boards come and go, and the listing the console then makes.
#include "board_listing.h"
#include "device_change.h"
#include "device_monitor.h"
#include "upg_device.h"
#include "vboard_host.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QVector>

#include <gtest/gtest.h>

#include <ostream>
#include <utility>

// Readable failure messages for the port texts and log lines compared below.
void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace
{

QStringList g_log;

void captureLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_log.append(message);
}

vboard::DeviceId plugBoard(const char *position)
{
    vboard::BoardConfig config;
    EXPECT_TRUE(vboard::UsbPosition::parse(position, &config.position)) << position;
    return vboard::addBoard(config);
}

// Runs the event loop until `count` notifications have come, and then a
// while longer so that a surplus one shows too; returns and forgets them.
QVector<int> takeNotifications(QVector<int> *seen, int count)
{
    QElapsedTimer timer;
    timer.start();
    while (seen->size() < count && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    timer.restart();
    while (timer.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return std::exchange(*seen, {});
}

QStringList listBoardPorts()
{
    QStringList ports;
    for (const BoardSighting &board : listBoards())
        ports.append(board.port);
    return ports;
}

} // namespace

TEST(DeviceDiscovery, BoardsComingAndGoingAreAnnouncedAndListedByPort)
{
    int argc = 1;
    char name[] = "device_discovery_test";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    vboard::removeAll();
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);

    DeviceMonitor monitor;
    QVector<int> seen;
    QObject::connect(&monitor, &DeviceMonitor::deviceChanged,
                     [&seen](int event) { seen.append(event); });
    ASSERT_TRUE(monitor.start());

    // A burst: three boards, the last one as deep as USB goes, with a
    // keyboard and another vendor's device among them that are no boards.
    vboard::UsbPosition keyboard, other;
    vboard::UsbPosition::parse("1:5", &keyboard);
    vboard::UsbPosition::parse("3:1", &other);
    plugBoard("1:2");
    vboard::addDevice(vboard::DeviceConfig::keyboard(keyboard));
    const vboard::DeviceId leaving = plugBoard("1:3:1");
    vboard::addDevice(vboard::DeviceConfig::other(other, 0x33C3, 0x6678));
    plugBoard("2:1:2:3:4:5:6:7");
    EXPECT_EQ(takeNotifications(&seen, 4),
              QVector<int>({DeviceArrival, DeviceArrival, DeviceArrival, DeviceNodesChanged}));

    // The record of the deepest board has its device address right behind
    // the seventh port number: the port text ends at the seventh.
    g_log.clear();
    EXPECT_EQ(listBoardPorts(), QStringList({"1:2", "1:3:1", "2:1:2:3:4:5:6:7"}));
    EXPECT_EQ(g_log, QStringList({"There are 3 device available", "dev 0 : \"1:2\"",
                                  "dev 1 : \"1:3:1\"", "dev 2 : \"2:1:2:3:4:5:6:7\""}));

    ASSERT_TRUE(vboard::unplug(leaving));
    EXPECT_EQ(takeNotifications(&seen, 2),
              QVector<int>({DeviceRemoveComplete, DeviceNodesChanged}));
    EXPECT_EQ(listBoardPorts(), QStringList({"1:2", "2:1:2:3:4:5:6:7"}));

    // The listing opens no board: one the system refuses to open, or that
    // another program holds, is listed, and only the check says why it
    // cannot be burned. A board being burned is listed with its address.
    vboard::BoardConfig refused;
    vboard::UsbPosition::parse("1:4", &refused.position);
    refused.openDenied = true;
    vboard::addBoard(refused);
    takeNotifications(&seen, 2);
    uint8_t path[UPG_PORT_PATH_LEN] = {2};
    upg_device *held = upg_usb_dev_open(1, path);
    ASSERT_NE(held, nullptr);
    const QVector<BoardSighting> boards = listBoards();
    ASSERT_EQ(boards.size(), 3);
    EXPECT_EQ(boards[0].port, QStringLiteral("1:2"));
    EXPECT_EQ(boards[0].address, held->dev_addr);
    EXPECT_EQ(boards[1].port, QStringLiteral("2:1:2:3:4:5:6:7"));
    EXPECT_EQ(boards[2].port, QStringLiteral("1:4"));
    EXPECT_EQ(boardRefusal(QStringLiteral("1:4")),
              QStringLiteral("no permission to open it: install the udev rule "
                             "70-veldmark.rules (/usr/lib/udev/rules.d, from the veldmark "
                             "package) and plug the board again, or join the plugdev group"));
    EXPECT_EQ(boardRefusal(QStringLiteral("1:2")),
              QStringLiteral("another program holds it: close that program and plug the "
                             "board again"));
    upg_dev_close(held);
    EXPECT_EQ(boardRefusal(QStringLiteral("1:2")), QString());
    EXPECT_EQ(boardRefusal(QStringLiteral("1:8")),
              QStringLiteral("it left the bus before it could be opened"));

    vboard::removeAll();
    EXPECT_EQ(takeNotifications(&seen, 4),
              QVector<int>({DeviceRemoveComplete, DeviceRemoveComplete, DeviceRemoveComplete,
                            DeviceNodesChanged}));
    g_log.clear();
    EXPECT_TRUE(listBoardPorts().isEmpty());
    EXPECT_EQ(g_log, QStringList({"No device available"}));

    qInstallMessageHandler(previous);
    libzelupg_exit();
}

// A real host announces a board as soon as it is on the bus, possibly before
// it has configured it; a listing right then cannot open the board. The
// console must still see it, without a later change to remind it.
TEST(DeviceDiscovery, ABoardAnnouncedBeforeItIsConfiguredIsListedAtItsArrival)
{
    int argc = 1;
    char name[] = "device_discovery_test";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    vboard::removeAll();

    DeviceMonitor monitor;
    QVector<int> seen;
    QStringList listed; // what the console lists at each nodes-changed
    QObject::connect(&monitor, &DeviceMonitor::deviceChanged, [&](int event) {
        seen.append(event);
        if (event == DeviceNodesChanged)
            listed = listBoardPorts();
    });
    ASSERT_TRUE(monitor.start());

    vboard::BoardConfig slow;
    vboard::UsbPosition::parse("1:6", &slow.position);
    slow.configureDelayMs = 300;
    const vboard::DeviceId board = vboard::addBoard(slow);
    EXPECT_EQ(takeNotifications(&seen, 2), QVector<int>({DeviceArrival, DeviceNodesChanged}));
    EXPECT_EQ(listed, QStringList({"1:6"}));

    // Gone again before it was configured: nothing to announce either way,
    // only the next board's arrival.
    ASSERT_TRUE(vboard::unplug(board));
    takeNotifications(&seen, 2);
    ASSERT_TRUE(vboard::plug(board));
    ASSERT_TRUE(vboard::unplug(board));
    plugBoard("1:7");
    EXPECT_EQ(takeNotifications(&seen, 2), QVector<int>({DeviceArrival, DeviceNodesChanged}));
    EXPECT_EQ(listed, QStringList({"1:7"}));

    vboard::removeAll();
    libzelupg_exit();
}

// Without a libusb context nothing can be watched: start() says so, in the
// log too, rather than leaving the console waiting for boards it cannot see.
// The test library cannot make a context while the board farm it is told to
// use does not answer.
TEST(DeviceDiscovery, MonitorWithoutUsbContextFailsToStartAndSaysWhy)
{
    qputenv(vboard::kFarmEnv, "/nonexistent/vboard-farm.sock");
    g_log.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);
    DeviceMonitor monitor;
    const bool started = monitor.start();
    qInstallMessageHandler(previous);
    qunsetenv(vboard::kFarmEnv);

    EXPECT_FALSE(started);
    ASSERT_EQ(g_log.size(), 1);
    EXPECT_TRUE(g_log[0].startsWith("Failed to create a USB context for hotplug:"))
        << g_log[0].toStdString();
}
