// Delivery between a sender thread and a receiver on the test's event loop.
#include "report_channel.h"
#include "report_receiver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace {
struct Received {
    quint32 kind;
    QByteArray payload;
};

class ReportChannelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A private runtime directory per test keeps parallel tests apart.
        ASSERT_TRUE(m_runtime.isValid());
        QFile::setPermissions(m_runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_previous = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", m_previous); }

    // Runs the event loop until done() or a 10 s guard expires.
    template <typename Done>
    void spin(Done done)
    {
        QElapsedTimer guard;
        guard.start();
        while (!done() && guard.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    QTemporaryDir m_runtime;
    QByteArray m_previous;
};
}  // namespace

TEST_F(ReportChannelTest, ReportsArriveInOrderAndTheSenderWaitsForTheHandler)
{
    ReportReceiver receiver(QStringLiteral("console title"));
    ASSERT_TRUE(receiver.listen());
    QList<Received> received;
    QObject::connect(&receiver, &ReportReceiver::reportReceived, [&](quint32 kind, const QByteArray &payload) {
        QThread::msleep(150);  // a busy console
        received.append({kind, payload});
    });

    std::atomic<int> delivered{0};
    std::atomic<qint64> elapsed{0};
    std::thread sender([&] {
        QElapsedTimer clock;
        clock.start();
        deliverReport(QStringLiteral("console title"), 1, QByteArray("ZEL_0#0_TOOL"));
        elapsed = clock.elapsed();
        delivered = 1;
        deliverReport(QStringLiteral("console title"), 4, QByteArray("ZEL_0#1_TOOL"));
        delivered = 2;
    });
    spin([&] { return delivered == 2; });
    sender.join();

    ASSERT_EQ(received.size(), 2);
    EXPECT_EQ(received[0].kind, 1u);
    EXPECT_EQ(received[0].payload, QByteArray("ZEL_0#0_TOOL"));
    EXPECT_EQ(received[1].kind, 4u);
    // Synchronous delivery: the sender returned only after the handler ran.
    EXPECT_GE(elapsed.load(), 150);
}

TEST_F(ReportChannelTest, WithoutAListenerReportsAreDroppedAtOnce)
{
    QElapsedTimer clock;
    clock.start();
    deliverReport(QStringLiteral("nobody listens"), 4, QByteArray("ZEL_1#1_TOOL"));
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(ReportChannelTest, OnlyOneReceiverPerTitleAndOtherTitlesAreApart)
{
    ReportReceiver first(QStringLiteral("title A"));
    ASSERT_TRUE(first.listen());
    ReportReceiver second(QStringLiteral("title A"));
    EXPECT_FALSE(second.listen());
    ReportReceiver other(QStringLiteral("title B"));
    EXPECT_TRUE(other.listen());

    int toOther = 0;
    QObject::connect(&other, &ReportReceiver::reportReceived, [&](quint32, const QByteArray &) { ++toOther; });
    std::atomic<bool> done{false};
    std::thread sender([&] {
        deliverReport(QStringLiteral("title B"), 2, QByteArray("ZEL_1#0_TOOL"));
        done = true;
    });
    spin([&] { return done.load(); });
    sender.join();
    EXPECT_EQ(toOther, 1);
}

TEST_F(ReportChannelTest, ASocketLeftByAKilledConsoleIsTakenOver)
{
    {
        ReportReceiver crashed(QStringLiteral("title C"));
        ASSERT_TRUE(crashed.listen());
    }
    ReportReceiver restarted(QStringLiteral("title C"));
    EXPECT_TRUE(restarted.listen());
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
