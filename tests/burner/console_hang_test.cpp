// The real ZelBurner against a console that stopped answering its reports.
#include "farm_harness.h"

#include "report_endpoint_posix.h"
#include "report_protocol.h"

#include <QCoreApplication>

#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// A stopped console: its socket takes connections and nobody reads them.
int listenWithoutAnswering(const QString &title)
{
    const QByteArray path = reportSocketPath(title);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0
        || ::listen(fd, 64) != 0) {
        ADD_FAILURE() << "cannot listen on " << path.constData();
    }
    return fd;
}

// What the console reads once it runs again: the records of every pending
// connection, in the order they came.
std::vector<ReceivedReport> pendingReports(int listener)
{
    std::vector<ReceivedReport> reports;
    for (;;) {
        const int conn = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
        if (conn < 0)
            break;
        QByteArray record;
        char buffer[256];
        ssize_t n;
        while ((n = ::recv(conn, buffer, sizeof(buffer), 0)) > 0)
            record.append(buffer, static_cast<int>(n));
        ::close(conn);
        if (record.size() < 8)
            continue;
        const DecodedReport d = decodeReportPayload(record.constData() + 8, record.size() - 8);
        reports.push_back({static_cast<unsigned char>(record[0]), d.slotIndex, d.value});
    }
    return reports;
}
}  // namespace

class ConsoleHang : public FarmTest
{
};

TEST_F(ConsoleHang, TheWorkerFinishesItsBurnAndAResumedConsoleStillGetsEveryReport)
{
    startFarm({"--board", "1:1", "upgrade=1"});
    const int console = listenWithoutAnswering(consoleWindowTitle());
    ::fcntl(console, F_SETFL, O_NONBLOCK);
    setListening(false);
    zelimg::ImageDesc desc = emptyImage();
    desc.components.push_back(
        component("image.target.data", "data", 0, "burn", patternBytes(3 * 1024 * 1024, 9)));
    const WorkerRun run = runWorker(2, writeImage(desc), QStringLiteral("1:1"));

    EXPECT_EQ(run.exitCode, 0);
    const std::vector<BoardFwc> fwcs = boardFwcs(QStringLiteral("1:1"));
    ASSERT_EQ(fwcs.size(), 1u);
    EXPECT_TRUE(fwcs[0].complete);
    const QString log = workerLog(QStringLiteral("1:1"));
    EXPECT_TRUE(log.contains(QStringLiteral("successfully!")));
    EXPECT_TRUE(log.contains(QStringLiteral("did not answer"))) << log.toStdString();

    // Start, three chunks, result: all kept for the console, in order.
    const std::vector<ReceivedReport> reports = pendingReports(console);
    ::close(console);
    ASSERT_EQ(reports.size(), 5u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(reports[i].kind, ReportProgress);
    EXPECT_EQ(reports[4].kind, ReportResult);
    EXPECT_EQ(reports[4].slot, 2);
    EXPECT_EQ(reports[4].value, 1);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
