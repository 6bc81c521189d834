// Delivery between a sender thread and a receiver on the test's event loop.
#include "report_channel.h"
#include "report_endpoint_posix.h"
#include "report_receiver.h"
#include "report_record.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
constexpr int kWaitMs = 10000;

struct Received {
    quint32 kind;
    QByteArray payload;
};

sockaddr_un socketAddress(const QString &title)
{
    const QByteArray path = reportSocketPath(title);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    return addr;
}

// A raw client of the receiver's socket, for peers that do not behave.
int connectRaw(const QString &title)
{
    const sockaddr_un addr = socketAddress(title);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True once the receiver has closed the client's connection.
bool closedByPeer(int fd)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0)
        return false;
    char byte;
    return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

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
    void TearDown() override
    {
        qputenv("XDG_RUNTIME_DIR", m_previous);
        if (!m_previousHome.isNull())
            qputenv("HOME", m_previousHome);
        if (!m_previousCache.isNull())
            qputenv("XDG_CACHE_HOME", m_previousCache);
    }

    // Runs the event loop until done() or a 30 s guard expires.
    template <typename Done>
    void spin(Done done)
    {
        QElapsedTimer guard;
        guard.start();
        while (!done() && guard.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    // Delivers from a worker thread while this thread runs the event loop.
    ReportDelivery deliverWhileSpinning(const QString &title, quint32 kind, const QByteArray &payload)
    {
        std::atomic<bool> done{false};
        ReportDelivery result = ReportDelivery::NoConsole;
        std::thread sender([&] {
            result = deliverReport(title, kind, payload, kWaitMs);
            done = true;
        });
        spin([&] { return done.load(); });
        sender.join();
        return result;
    }

    QTemporaryDir m_runtime;
    QByteArray m_previous;
    QByteArray m_previousHome;
    QByteArray m_previousCache;
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
    std::atomic<int> handled{0};
    std::atomic<qint64> elapsed{0};
    std::thread sender([&] {
        QElapsedTimer clock;
        clock.start();
        handled += deliverReport(QStringLiteral("console title"), 1, QByteArray("ZEL_0#0_TOOL"),
                                 kWaitMs) == ReportDelivery::Handled;
        elapsed = clock.elapsed();
        delivered = 1;
        handled += deliverReport(QStringLiteral("console title"), 4, QByteArray("ZEL_0#1_TOOL"),
                                 kWaitMs) == ReportDelivery::Handled;
        delivered = 2;
    });
    spin([&] { return delivered == 2; });
    sender.join();

    ASSERT_EQ(received.size(), 2);
    EXPECT_EQ(handled, 2);
    EXPECT_EQ(received[0].kind, 1u);
    EXPECT_EQ(received[0].payload, QByteArray("ZEL_0#0_TOOL"));
    EXPECT_EQ(received[1].kind, 4u);
    // Synchronous delivery: the sender returned only after the handler ran.
    EXPECT_GE(elapsed.load(), 150);
}

TEST_F(ReportChannelTest, PostedProgressGoesOnAtOnceAndTheNextReportWaitsForItsAnswer)
{
    ReportReceiver receiver(QStringLiteral("title P"));
    ASSERT_TRUE(receiver.listen());
    QList<Received> received;
    QObject::connect(&receiver, &ReportReceiver::reportReceived,
                     [&](quint32 kind, const QByteArray &payload) {
                         QThread::msleep(300);  // a busy console
                         received.append({kind, payload});
                     });

    std::atomic<int> stage{0};
    std::atomic<qint64> postMs{0};
    ReportDelivery posted = ReportDelivery::NoConsole;
    ReportDelivery result = ReportDelivery::NoConsole;
    std::thread sender([&] {
        QElapsedTimer clock;
        clock.start();
        posted = postReport(QStringLiteral("title P"), 1, QByteArray("ZEL_3#10_TOOL"), kWaitMs);
        postMs = clock.elapsed();
        stage = 1;
        result = deliverReport(QStringLiteral("title P"), 4, QByteArray("ZEL_3#1_TOOL"), kWaitMs);
        stage = 2;
    });
    spin([&] { return stage == 2; });
    sender.join();

    EXPECT_EQ(posted, ReportDelivery::Sent);
    EXPECT_LT(postMs.load(), 300);
    // The result waited for the progress before it, and both arrived in order.
    EXPECT_EQ(result, ReportDelivery::Handled);
    ASSERT_EQ(received.size(), 2);
    EXPECT_EQ(received[0].payload, QByteArray("ZEL_3#10_TOOL"));
    EXPECT_EQ(received[1].payload, QByteArray("ZEL_3#1_TOOL"));
}

TEST_F(ReportChannelTest, ASenderKeepsOneConnectionAndFindsARestartedConsole)
{
    const QString title = QStringLiteral("title K");
    // A console that answers records on the first connection only: a sender
    // that connected anew for a report would wait in vain.
    const sockaddr_un addr = socketAddress(title);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr *>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    // It ends after five answers, closing its connection as its process would.
    std::atomic<int> answered{0};
    std::thread console([&] {
        const int conn = ::accept(listener, nullptr, nullptr);
        ReportRecordReader record;
        char byte;
        while (conn >= 0 && answered < 5 && ::recv(conn, &byte, 1, 0) == 1) {
            record.append(&byte, 1);
            if (record.state() != ReportRecordReader::Incomplete) {
                record = ReportRecordReader();
                const char ack = 1;
                ::send(conn, &ack, 1, MSG_NOSIGNAL);
                ++answered;
            }
        }
        if (conn >= 0)
            ::close(conn);
        ::close(listener);
    });

    // The sender is a worker's burn thread: its reports, then a console
    // restarted under the same title.
    std::vector<ReportDelivery> results;
    std::atomic<int> phase{0};
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i)
            results.push_back(deliverReport(title, 1, QByteArray("ZEL_0#1_TOOL"), 3000));
        phase = 1;
        while (phase != 2)
            QThread::msleep(5);
        results.push_back(deliverReport(title, 4, QByteArray("ZEL_0#1_TOOL"), kWaitMs));
        phase = 3;
    });
    spin([&] { return phase == 1; });
    console.join();
    EXPECT_EQ(answered, 5);
    ReportReceiver restarted(title);
    EXPECT_TRUE(restarted.listen());
    QList<Received> received;
    QObject::connect(&restarted, &ReportReceiver::reportReceived,
                     [&](quint32 kind, const QByteArray &payload) { received.append({kind, payload}); });
    phase = 2;
    spin([&] { return phase == 3; });
    worker.join();

    ASSERT_EQ(results.size(), 6u);
    for (const ReportDelivery r : results)
        EXPECT_EQ(r, ReportDelivery::Handled);
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0].kind, 4u);
}

TEST_F(ReportChannelTest, WithoutAListenerReportsAreDroppedAtOnce)
{
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(
        deliverReport(QStringLiteral("nobody listens"), 4, QByteArray("ZEL_1#1_TOOL"), kWaitMs),
        ReportDelivery::NoConsole);
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(ReportChannelTest, AConsoleThatTakesNoReportsHoldsTheSenderOnlyForTheWait)
{
    // A stopped console: the socket exists, nobody accepts, and its queue
    // of connections fills up after the first.
    const sockaddr_un addr = socketAddress(QStringLiteral("title W"));
    const int stopped = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(stopped, reinterpret_cast<const sockaddr *>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(::listen(stopped, 0), 0);

    for (int i = 0; i < 3; ++i) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(deliverReport(QStringLiteral("title W"), 1, QByteArray("ZEL_0#0_TOOL"), 300),
                  ReportDelivery::Unanswered);
        EXPECT_LT(clock.elapsed(), 5000);
    }
    ::close(stopped);
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
    EXPECT_EQ(deliverWhileSpinning(QStringLiteral("title B"), 2, QByteArray("ZEL_1#0_TOOL")),
              ReportDelivery::Handled);
    EXPECT_EQ(toOther, 1);
}

TEST_F(ReportChannelTest, OfReceiversStartedAtOnceOneListensAndAKilledOnesSocketIsTakenOver)
{
    // Receivers in processes of their own, all released at one moment.
    constexpr int kReceivers = 6;
    int go[2], answers[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(answers), 0);
    std::vector<pid_t> receivers;
    for (int i = 0; i < kReceivers; ++i) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(go[1]);
            char byte;
            // End of file once the test closes its end: every receiver at once.
            if (::read(go[0], &byte, 1) < 0)
                ::_exit(1);
            ReportReceiver receiver(QStringLiteral("title R"));
            const char result = receiver.listen() ? 'L' : 'r';
            if (::write(answers[1], &result, 1) != 1)
                ::_exit(1);
            ::pause();
            ::_exit(0);
        }
        receivers.push_back(pid);
    }
    ::close(go[0]);
    ::close(answers[1]);
    ::close(go[1]);
    std::string results;
    char result;
    while (results.size() < size_t(kReceivers) && ::read(answers[0], &result, 1) == 1)
        results += result;
    ::close(answers[0]);
    EXPECT_EQ(std::count(results.begin(), results.end(), 'L'), 1) << results;

    // Killed: the socket file stays behind, and a new receiver takes over.
    for (const pid_t pid : receivers) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    EXPECT_TRUE(QFile::exists(QString::fromLocal8Bit(reportSocketPath(QStringLiteral("title R")))));
    ReportReceiver restarted(QStringLiteral("title R"));
    ASSERT_TRUE(restarted.listen());
    qint64 sender = 0;
    QObject::connect(&restarted, &ReportReceiver::reportReceived,
                     [&](quint32, const QByteArray &, qint64 pid) { sender = pid; });
    EXPECT_EQ(deliverWhileSpinning(QStringLiteral("title R"), 2, QByteArray("ZEL_1#0_TOOL")),
              ReportDelivery::Handled);
    // The kernel names the sending process, here this one.
    EXPECT_EQ(sender, QCoreApplication::applicationPid());
}

TEST_F(ReportChannelTest, SilentAndSlowClientsNeitherDelayAReportNorHoldTheReceiver)
{
    const QString title = QStringLiteral("title S");
    ReportReceiver receiver(title);
    ASSERT_TRUE(receiver.listen());
    QList<Received> received;
    QObject::connect(&receiver, &ReportReceiver::reportReceived,
                     [&](quint32 kind, const QByteArray &payload) {
                         received.append({kind, payload});
                     });

    std::vector<int> silent;
    for (int i = 0; i < 10; ++i)
        silent.push_back(connectRaw(title));
    // A record sent one byte at a time, slower than any deadline allows.
    const int dripping = connectRaw(title);
    std::atomic<bool> dripDone{false};
    std::thread drip([&] {
        const QByteArray record = encodeReportRecord(2, QByteArray("ZEL_7#0_TOOL"));
        for (char byte : record) {
            if (::send(dripping, &byte, 1, MSG_NOSIGNAL) != 1)
                break;
            QThread::msleep(200);
        }
        dripDone = true;
    });

    EXPECT_EQ(deliverWhileSpinning(title, 4, QByteArray("ZEL_1#1_TOOL")), ReportDelivery::Handled);
    EXPECT_EQ(received.size(), 1);
    EXPECT_EQ(received.value(0).payload, QByteArray("ZEL_1#1_TOOL"));
    // The report did not wait for the silent clients to be given up.
    for (int fd : silent)
        EXPECT_FALSE(closedByPeer(fd));

    // Each silent or dripping client is dropped at its record's deadline,
    // without an acknowledgement.
    spin([&] {
        for (int fd : silent)
            if (!closedByPeer(fd))
                return false;
        return closedByPeer(dripping) || dripDone;
    });
    drip.join();
    for (int fd : silent) {
        EXPECT_TRUE(closedByPeer(fd));
        ::close(fd);
    }
    char ack = 0;
    EXPECT_LE(::recv(dripping, &ack, 1, MSG_DONTWAIT), 0);
    ::close(dripping);
    EXPECT_EQ(received.size(), 1);
}

TEST_F(ReportChannelTest, WithoutARuntimeFolderTheChannelLivesInAPrivateFolderOfTheUsersCache)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    m_previousHome = qgetenv("HOME");
    m_previousCache = qgetenv("XDG_CACHE_HOME");
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("XDG_RUNTIME_DIR");

    // A cache folder named elsewhere is followed; a relative one is not valid
    // and leaves ~/.cache.
    QTemporaryDir cache;
    ASSERT_TRUE(cache.isValid());
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8() + "/c");
    {
        ReportReceiver receiver(QStringLiteral("title C"));
        ASSERT_TRUE(receiver.listen()) << receiver.errorString().toStdString();
        EXPECT_TRUE(reportSocketPath(QStringLiteral("title C"))
                        .startsWith(cache.path().toUtf8() + "/c/zel-reports/"));
        EXPECT_EQ(deliverWhileSpinning(QStringLiteral("title C"), 3, QByteArray("ZEL_0#0_TOOL")),
                  ReportDelivery::Handled);
    }
    qputenv("XDG_CACHE_HOME", "relative/cache");

    ReportReceiver receiver(QStringLiteral("title H"));
    ASSERT_TRUE(receiver.listen());
    EXPECT_TRUE(reportSocketPath(QStringLiteral("title H")).startsWith(home.path().toUtf8() + '/'));
    int reports = 0;
    QObject::connect(&receiver, &ReportReceiver::reportReceived,
                     [&](quint32, const QByteArray &) { ++reports; });
    EXPECT_EQ(deliverWhileSpinning(QStringLiteral("title H"), 3, QByteArray("ZEL_0#0_TOOL")),
              ReportDelivery::Handled);
    EXPECT_EQ(reports, 1);

    // A folder others may write to is refused, and the reason is given.
    const QByteArray folder = home.path().toUtf8() + "/.cache/zel-reports";
    ASSERT_EQ(::chmod(folder.constData(), 0755), 0);
    ReportReceiver refused(QStringLiteral("title I"));
    EXPECT_FALSE(refused.listen());
    EXPECT_TRUE(refused.errorString().contains(QString::fromUtf8(folder)))
        << refused.errorString().toStdString();
    EXPECT_TRUE(refused.errorString().contains(QStringLiteral("open to other users")));
    EXPECT_EQ(deliverReport(QStringLiteral("title I"), 3, QByteArray("ZEL_0#0_TOOL"), kWaitMs),
              ReportDelivery::NoConsole);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
