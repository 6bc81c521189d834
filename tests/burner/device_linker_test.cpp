#include "device_linker_serial.h"
#include "device_linker_usb.h"
#include "image_format.h"

#include <QtGlobal>

#include <gtest/gtest.h>

#include <vector>

namespace {
std::vector<int> path(const DeviceLinkerUSB &link)
{
    return std::vector<int>(link.portPath(), link.portPath() + 7);
}

int g_messages = 0;
void countMessages(QtMsgType, const QMessageLogContext &, const QString &)
{
    ++g_messages;
}
}  // namespace

TEST(DeviceLinkerUSB, PositionTextGivesBusAndSevenPortBytes)
{
    const DeviceLinkerUSB a(QStringLiteral("1:2:4"));
    EXPECT_TRUE(a.positionValid());
    EXPECT_EQ(a.busNumber(), 1u);
    EXPECT_EQ(path(a), (std::vector<int>{2, 4, 0, 0, 0, 0, 0}));

    const DeviceLinkerUSB b(QStringLiteral("3"));
    EXPECT_TRUE(b.positionValid());
    EXPECT_EQ(b.busNumber(), 3u);
    EXPECT_EQ(path(b), (std::vector<int>(7, 0)));

    const DeviceLinkerUSB seven(QStringLiteral("254:1:2:3:4:5:6:255"));
    EXPECT_TRUE(seven.positionValid());
    EXPECT_EQ(seven.busNumber(), 254u);
    EXPECT_EQ(path(seven), (std::vector<int>{1, 2, 3, 4, 5, 6, 255}));
}

TEST(DeviceLinkerUSB, TextThatIsNoPositionNeverOpensABoard)
{
    // Wrapped, cut or "any board" numbers would open some other board.
    for (const char *name : {"255", "-1", "1:258", "1:2:0", "2:1:2:3:4:5:6:7:8", "x:300::5", "1:",
                             "../../x", "1:1/../..", " 1:2", "+1:2"}) {
        DeviceLinkerUSB link(QString::fromLatin1(name));
        EXPECT_FALSE(link.positionValid()) << name;
        EXPECT_FALSE(link.open()) << name;
        EXPECT_FALSE(link.isOpen()) << name;
        EXPECT_EQ(link.name(), QString::fromLatin1(name));
    }
}

TEST(DeviceLinker, ClosedLinksFailEveryTransferSilently)
{
    DeviceLinkerUSB usb(QStringLiteral("1:2"));
    DeviceLinkerSerial serial(QStringLiteral("COM3"));
    DeviceLinkerNetwork network(QStringLiteral("10.0.0.1"));
    fwc_meta entry{};
    const unsigned char wire[FWC_META_DISK_SIZE] = {};
    FwcResults results;
    const char data[4] = {1, 2, 3, 4};

    g_messages = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countMessages);
    for (DeviceLinker *link : std::vector<DeviceLinker *>{&usb, &serial, &network}) {
        EXPECT_FALSE(link->isOpen());
        EXPECT_FALSE(link->probe());
        EXPECT_FALSE(link->inUpgradeMode());
        EXPECT_FALSE(link->send(data, sizeof(data)));
        EXPECT_FALSE(link->sendMeta(entry, wire));
        EXPECT_FALSE(link->finish(entry, nullptr, &results));
        EXPECT_FALSE(link->reset());
        EXPECT_FALSE(link->close());
        EXPECT_EQ(link->blockSize(), 0u);
    }
    EXPECT_FALSE(serial.open());
    EXPECT_FALSE(network.open());
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_messages, 0);
}
