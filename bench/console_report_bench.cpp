// How the console keeps up with its workers' reports: a real Veldmark
// (offscreen, 16 slots, an image selected) receives progress reports from 16
// senders at once, each on the one connection it keeps as a worker does, and
// each report returning once the console has handled it (a worker posts its
// progress and awaits the answer with its next report; the console does the
// same work either way). Prints, per sending rate, the
// reports the console acknowledged per second, the time from sending a
// report to its acknowledgement (slot updated) at the 50th and 99th
// percentile, and the console's CPU. Fails when the console does not start,
// does not listen, ends during a run or leaves a report unacknowledged.
//   console_report_bench [SECONDS] [--console PATH]   (default 10 s per rate)
#include "image_builder.h"
#include "report_channel.h"
#include "report_protocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

constexpr int kSenders = 16;
constexpr qint64 kImageBytes = 64 * 1024 * 1024;

// User and system clock ticks of a running process; -1 when it is gone
// (a zombie has none left to read).
qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (f.size() <= 12 || f.at(0) == "Z")
        return -1;
    return f.at(11).toLongLong() + f.at(12).toLongLong();
}

struct Result {
    bool ok = false;
    int unacknowledged = 0;
    double perSecond = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    double cpuPercent = 0;
};

// Sends one report at a time until the console acknowledges one, or fails
// after timeoutMs or once the console has ended.
bool waitUntilListening(QProcess &console, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (console.state() == QProcess::Running && waited.elapsed() < timeoutMs) {
        if (deliverReport(consoleWindowTitle(), ReportProgress, buildReportPayload(0, 0), 1000) ==
            ReportDelivery::Handled)
            return true;
        console.waitForFinished(20); // notices a console that has ended
    }
    return false;
}

// Every sender reports rate times a second (0: as fast as it can). Only
// acknowledged reports count; a run with any report left unacknowledged or
// a console that is gone by its end fails.
Result measure(qint64 console, int rate, int seconds)
{
    std::vector<std::vector<double>> latencies(kSenders);
    std::atomic<int> unacknowledged{0};
    std::atomic<bool> stop{false};
    const qint64 ticks = cpuTicks(console);
    Result r;
    if (ticks < 0)
        return r;
    QElapsedTimer wall;
    wall.start();
    std::vector<std::thread> senders;
    for (int slot = 0; slot < kSenders; ++slot) {
        senders.emplace_back([&, slot] {
            const QString title = consoleWindowTitle();
            qint64 value = 0;
            qint64 sent = 0;
            QElapsedTimer clock;
            clock.start();
            while (!stop) {
                const QByteArray payload = buildReportPayload(slot, quint64(value));
                value = (value + 1048576) % kImageBytes;
                const qint64 start = clock.nsecsElapsed();
                ++sent;
                if (deliverReport(title, ReportProgress, payload, 10000) !=
                    ReportDelivery::Handled) {
                    ++unacknowledged;
                    break;
                }
                latencies[slot].push_back((clock.nsecsElapsed() - start) / 1e6);
                if (rate > 0) {
                    const qint64 next = sent * 1000000000 / rate;
                    const qint64 wait = next - clock.nsecsElapsed();
                    if (wait > 0)
                        QThread::usleep(static_cast<unsigned long>(wait / 1000));
                }
            }
        });
    }
    QThread::sleep(static_cast<unsigned long>(seconds));
    stop = true;
    for (std::thread &t : senders)
        t.join();
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const qint64 ticksAfter = cpuTicks(console);
    std::vector<double> all;
    for (const auto &l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    r.unacknowledged = unacknowledged;
    if (all.empty() || ticksAfter < 0 || r.unacknowledged > 0)
        return r;
    r.ok = true;
    r.perSecond = all.size() / elapsed;
    r.p50Ms = all[all.size() / 2];
    r.p99Ms = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    r.cpuPercent = 100.0 * (ticksAfter - ticks) / sysconf(_SC_CLK_TCK) / elapsed;
    return r;
}

} // namespace

int main(int argc, char *argv[])
{
    int seconds = 10;
    QString program = QStringLiteral(VELDMARK);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--console") == 0 && i + 1 < argc)
            program = QString::fromLocal8Bit(argv[++i]);
        else
            seconds = std::max(1, atoi(argv[i]));
    }
    QTemporaryDir work;
    QTemporaryDir runtime;
    if (!work.isValid() || !runtime.isValid())
        return 1;
    QFile::setPermissions(runtime.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());

    // An image whose header announces 64 MiB, so that every report moves a bar.
    zelimg::ImageDesc desc;
    desc.platform = "zk3308";
    desc.product = "bench";
    desc.version = "1.0";
    desc.mediaType = "emmc";
    desc.mediaId = "mmc0";
    desc.components.push_back({"image.target.data", "data", 0, "burn",
                               std::vector<uint8_t>(kImageBytes, 0x5a), std::nullopt, "ZEL.FWC"});
    const QString image = QDir(work.path()).filePath(QStringLiteral("bench.img"));
    std::string error;
    if (!zelimg::writeImage(desc, image.toStdString(), &error)) {
        std::fprintf(stderr, "console_report_bench: %s\n", error.c_str());
        return 1;
    }
    QFile ini(QDir(work.path()).filePath(QStringLiteral("Veldmark.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    ini.write(QStringLiteral("[common]\nimage_path=%1\nmax_dev_count=16\ndev_column_count=2\n")
                  .arg(image)
                  .toUtf8());
    ini.close();

    QProcess console;
    console.setWorkingDirectory(work.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    console.setProcessEnvironment(env);
    console.setStandardOutputFile(QProcess::nullDevice());
    console.setStandardErrorFile(QProcess::nullDevice());
    console.start(program, QStringList());
    if (!console.waitForStarted(10000)) {
        std::fprintf(stderr, "console_report_bench: Veldmark did not start\n");
        return 1;
    }
    if (!waitUntilListening(console, 15000)) {
        std::fprintf(stderr, "console_report_bench: Veldmark %s\n",
                     console.state() == QProcess::Running ? "does not take reports"
                                                          : "ended before it took a report");
        console.kill();
        console.waitForFinished();
        return 1;
    }

    std::printf("%-12s %16s %10s %10s %14s\n", "rate/sender", "handled/s", "p50 ms", "p99 ms",
                "console CPU");
    bool ok = true;
    for (int rate : {50, 0}) {
        const Result r = measure(console.processId(), rate, seconds);
        const QByteArray label = rate ? QByteArray::number(rate) : QByteArrayLiteral("unlimited");
        if (!r.ok) {
            std::fprintf(stderr,
                         "console_report_bench: at %s reports/s per sender the console %s\n",
                         label.constData(),
                         r.unacknowledged ? "left reports unacknowledged"
                                          : "was not running");
            ok = false;
            break;
        }
        std::printf("%-12s %16.0f %10.3f %10.3f %13.1f%%\n", label.constData(), r.perSecond, r.p50Ms, r.p99Ms,
                    r.cpuPercent);
        std::fflush(stdout);
    }
    console.kill();
    console.waitForFinished();
    return ok ? 0 : 1;
}
