// The real ZelBurner against a console that stopped answering its reports.
#include "farm_harness.h"

#include "report_endpoint_posix.h"
#include "report_protocol.h"
#include "report_record.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
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

struct AnsweredReport {
    ReceivedReport report;
    bool senderWaited;  // the worker still waited for the answer
};

// What the console does once it runs again: reads and answers the record of
// every pending connection, in the order they came.
std::vector<AnsweredReport> answerPending(int listener)
{
    std::vector<AnsweredReport> answered;
    for (;;) {
        const int conn = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
        if (conn < 0)
            break;
        ReportRecordReader record;
        char buffer[256];
        while (record.state() == ReportRecordReader::Incomplete) {
            pollfd p{conn, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0)
                break;
            const ssize_t n = ::recv(conn, buffer, static_cast<size_t>(record.missing()), 0);
            if (n <= 0)
                break;
            record.append(buffer, static_cast<int>(n));
        }
        // A sender that gave up has closed its end: nothing more, end of stream.
        const bool waited = ::recv(conn, buffer, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && errno == EAGAIN;
        const char ack = 1;
        ::send(conn, &ack, 1, MSG_NOSIGNAL);
        ::close(conn);
        if (record.state() != ReportRecordReader::Complete)
            continue;
        const DecodedReport d = decodeReportPayload(record.payload().constData(), record.payload().size());
        answered.push_back({{static_cast<int>(record.kind()), d.slotIndex, d.value}, waited});
    }
    return answered;
}
}  // namespace

class ConsoleHang : public FarmTest
{
};

TEST_F(ConsoleHang, TheWorkerFinishesItsBurnAndKeepsItsResultUntilTheResumedConsoleAnswers)
{
    startFarm({"--board", "1:1", "upgrade=1"});
    const int console = listenWithoutAnswering(consoleWindowTitle());
    ::fcntl(console, F_SETFL, O_NONBLOCK);
    setListening(false);
    zelimg::ImageDesc desc = emptyImage();
    desc.components.push_back(
        component("image.target.data", "data", 0, "burn", patternBytes(3 * 1024 * 1024, 9)));

    // The console stays stopped for seconds after the board got everything,
    // far longer than a worker waits for an answer to its progress.
    std::vector<AnsweredReport> answered;
    QElapsedTimer sinceBurned;
    QTimer resume;
    QObject::connect(&resume, &QTimer::timeout, [&] {
        if (!sinceBurned.isValid()) {
            const std::vector<BoardFwc> fwcs = boardFwcs(QStringLiteral("1:1"));
            if (!fwcs.empty() && fwcs[0].complete)
                sinceBurned.start();
        } else if (sinceBurned.elapsed() > 3000) {
            for (const AnsweredReport &r : answerPending(console))
                answered.push_back(r);
        }
    });
    resume.start(100);
    const WorkerRun run = runWorker(2, writeImage(desc), QStringLiteral("1:1"));
    resume.stop();
    ::close(console);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_GT(run.elapsedMs, 3000);
    const std::vector<BoardFwc> fwcs = boardFwcs(QStringLiteral("1:1"));
    ASSERT_EQ(fwcs.size(), 1u);
    EXPECT_TRUE(fwcs[0].complete);
    const QString log = workerLog(QStringLiteral("1:1"));
    EXPECT_TRUE(log.contains(QStringLiteral("successfully!")));
    EXPECT_TRUE(log.contains(QStringLiteral("did not answer"))) << log.toStdString();

    // The board's trace, the start, progress up to all three chunks, the
    // result: all kept for the console, in order, and the result still
    // awaited its answer when the console came back.
    ASSERT_GE(answered.size(), 4u);
    EXPECT_EQ(answered[0].report.kind, ReportTrace);
    for (size_t i = 1; i + 1 < answered.size(); ++i) {
        EXPECT_EQ(answered[i].report.kind, ReportProgress);
        EXPECT_EQ(answered[i].report.value > 0, i > 1);
    }
    EXPECT_EQ(answered[answered.size() - 2].report.value, 3 * 1024 * 1024);
    EXPECT_EQ(answered.back().report.kind, ReportResult);
    EXPECT_EQ(answered.back().report.slot, 2);
    EXPECT_EQ(answered.back().report.value, 1);
    EXPECT_TRUE(answered.back().senderWaited);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
