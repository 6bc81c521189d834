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

    vboard::removeAll();
    EXPECT_EQ(takeNotifications(&seen, 3),
              QVector<int>({DeviceRemoveComplete, DeviceRemoveComplete, DeviceNodesChanged}));
    g_log.clear();
    EXPECT_TRUE(listBoardPorts().isEmpty());
    EXPECT_EQ(g_log, QStringList({"No device available"}));

    qInstallMessageHandler(previous);
    libzelupg_exit();
}
