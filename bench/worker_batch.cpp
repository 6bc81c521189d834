#include "worker_batch.h"

#include "report_protocol.h"
#include "report_receiver.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <unistd.h>

namespace
{
// Child ends arrive as bytes on this pipe, so that the event loop wakes for
// them as it does for reports.
int g_childPipe[2] = {-1, -1};

void onChild(int)
{
    const char c = 'c';
    if (write(g_childPipe[1], &c, 1) < 0) {
        // The pipe is full: a wake-up is pending anyway.
    }
}

// VmHWM of a running process. Read while the worker waits for its result
// report to be handled; getrusage cannot tell it, because a child started
// with vfork inherits the parent's peak.
long peakRssKb(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 6, "VmHWM:") == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

void drain(int fd)
{
    char buf[64];
    while (read(fd, buf, sizeof buf) > 0) {
    }
}
} // namespace

WorkerBatch::WorkerBatch(const WorkerEnvironment &env) : m_env(env)
{
    if (g_childPipe[0] < 0 && pipe2(g_childPipe, O_NONBLOCK | O_CLOEXEC) == 0) {
        struct sigaction sa = {};
        sa.sa_handler = onChild;
        sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
        sigaction(SIGCHLD, &sa, nullptr);
    }
}

WorkerBatch::~WorkerBatch() = default;

bool WorkerBatch::listen()
{
    m_receiver = std::make_unique<ReportReceiver>(consoleWindowTitle());
    return m_receiver->listen();
}

std::vector<WorkerOutcome> WorkerBatch::run(const std::vector<WorkerJob> &jobs, double timeoutS)
{
    std::vector<WorkerOutcome> outcomes(jobs.size());
    std::vector<std::unique_ptr<Child>> children;
    children.reserve(jobs.size());
    std::map<int, size_t> bySlot;
    for (size_t i = 0; i < jobs.size(); ++i)
        bySlot[jobs[i].slot] = i;

    const QMetaObject::Connection reports =
        QObject::connect(m_receiver.get(), &ReportReceiver::reportReceived,
                         [&](quint32 kind, const QByteArray &payload) {
                             const double at = nowSeconds();
                             const DecodedReport d =
                                 decodeReportPayload(payload.constData(), payload.size());
                             const auto it = bySlot.find(d.slotIndex);
                             if (!d.valid || it == bySlot.end())
                                 return;
                             WorkerOutcome &o = outcomes[it->second];
                             if (o.firstReportS < 0)
                                 o.firstReportS = at - o.spawnedAt;
                             if (kind == ReportProgress)
                                 o.lastProgress = d.value;
                             else if (kind == ReportResult) {
                                 o.result = d.value;
                                 o.peakRssKb = peakRssKb(children[it->second]->pid());
                             }
                         });
    QSocketNotifier childEnded(g_childPipe[0], QSocketNotifier::Read);
    QObject::connect(&childEnded, &QSocketNotifier::activated, [] { drain(g_childPipe[0]); });
    bool overran = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&overran] { overran = true; });
    deadline.start(int(timeoutS * 1000));

    const std::string output = m_env.workDir + "/workers.out";
    for (size_t i = 0; i < jobs.size(); ++i) {
        std::map<std::string, std::string> vars = {
            {"ZEL_VBOARD_FARM", m_env.farmSocket},
            {"LD_LIBRARY_PATH", m_env.vusbDir},
            {"XDG_RUNTIME_DIR", m_env.runtimeDir},
        };
        for (const auto &kv : jobs[i].env)
            vars[kv.first] = kv.second;
        const std::vector<std::string> env = environmentWith(vars);
        const QByteArray encoded = QByteArray::fromStdString(jobs[i].image).toPercentEncoding();
        children.push_back(std::make_unique<Child>());
        if (!children.back()->start({m_env.burner, "-i", std::to_string(jobs[i].slot), "-f",
                                     encoded.toStdString(), "-d", jobs[i].position, "-t",
                                     std::to_string(QDateTime::currentSecsSinceEpoch())},
                                    env, m_env.workDir, output))
            std::fprintf(stderr, "burn_bench: cannot start %s\n", m_env.burner.c_str());
        outcomes[i].spawnedAt = children.back()->startedAt();
    }

    for (;;) {
        bool anyRunning = false;
        for (size_t i = 0; i < children.size(); ++i) {
            if (children[i]->running() && children[i]->poll())
                outcomes[i].usage = children[i]->usage();
            anyRunning |= children[i]->running();
        }
        if (!anyRunning)
            break;
        if (overran) {
            for (size_t i = 0; i < children.size(); ++i)
                if (children[i]->running()) {
                    children[i]->kill();
                    outcomes[i].usage = children[i]->usage();
                }
            break;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    // Reports handled after the last worker ended cannot belong to this batch.
    QObject::disconnect(reports);
    return outcomes;
}
