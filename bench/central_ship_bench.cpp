// What shipping burns to the central history costs the console: a real
// PostgreSQL server (started here), the console's trace store over a SQLite
// file and its shipping thread. Prints the time from recording a burn to the
// server's confirmation (one burn at a time), the same for 16 burns recorded
// at once (16 workers ending together), the time a backlog of 1600 burns
// takes once the server is back, and the process CPU per shipped burn.
//   central_ship_bench [ROUNDS]   (default 200 single burns)
#include "central_history.h"
#include "pg_server.h"
#include "trace_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace
{

double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

BurnTrace burn(int k)
{
    BurnTrace t;
    t.station = QStringLiteral("bench");
    t.usbPort = QStringLiteral("1:%1").arg(k % 16 + 1);
    t.boardTrace = QByteArray("SN-") + QByteArray::number(k);
    t.imageFile = QStringLiteral("line.img");
    t.image.version = QStringLiteral("1.0");
    t.image.boardType = QStringLiteral("evb");
    t.image.tableCrc = 0x12345678;
    t.beginTime = 1714990000 + k;
    t.endTime = t.beginTime + 20;
    t.burnDate = QStringLiteral("2024-05-06");
    t.usedSeconds = 20;
    t.result = 1;
    return t;
}

bool drain(const CentralHistory &central, int ms)
{
    QElapsedTimer clock;
    clock.start();
    // Sleeps until the shipping thread reports: waiting must not spin, or the
    // process CPU would measure the wait.
    QTimer tick;
    tick.start(100);
    while (central.waiting() > 0 && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return central.waiting() == 0;
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[std::min(values.size() - 1, size_t(p * values.size()))];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
    PgServer server;
    if (!server.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.error()));
        return 1;
    }
    QTemporaryDir dir;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(dir.filePath(QStringLiteral("data.db")));
    db.open();
    TraceStore store(db);
    CentralHistory central(&store, server.url());
    int k = 0;
    // The first connection and the schema are not part of a burn's cost.
    store.record(burn(k++));
    central.pickUp();
    drain(central, 30000);

    std::vector<double> single;
    QElapsedTimer clock;
    const double cpuBefore = cpuMs();
    for (int i = 0; i < rounds; ++i) {
        clock.start();
        store.record(burn(k++));
        central.pickUp();
        if (!drain(central, 30000))
            return 1;
        single.push_back(clock.nsecsElapsed() / 1e6);
    }
    const double cpuSingle = (cpuMs() - cpuBefore) / rounds;

    std::vector<double> bursts;
    for (int i = 0; i < 20; ++i) {
        clock.start();
        for (int w = 0; w < 16; ++w) {
            store.record(burn(k++));
            central.pickUp();
        }
        if (!drain(central, 30000))
            return 1;
        bursts.push_back(clock.nsecsElapsed() / 1e6);
    }

    server.stop();
    for (int i = 0; i < 1600; ++i) {
        store.record(burn(k++));
        central.pickUp();
    }
    QCoreApplication::processEvents();
    server.start();
    clock.start();
    const double cpuBacklog = cpuMs();
    // The thread is in its back-off when the server comes back; that wait counts.
    if (!drain(central, 120000))
        return 1;
    std::printf("one burn recorded -> confirmed by the server: p50 %.2f ms, p99 %.2f ms (%d burns)\n",
                percentile(single, 0.5), percentile(single, 0.99), rounds);
    std::printf("process CPU per burn shipped one at a time: %.2f ms\n", cpuSingle);
    std::printf("16 burns at once -> all confirmed: p50 %.2f ms, max %.2f ms\n",
                percentile(bursts, 0.5), percentile(bursts, 1.0));
    std::printf("1600-burn backlog after the server's return: %.0f ms, process CPU %.0f ms\n",
                clock.nsecsElapsed() / 1e6, cpuMs() - cpuBacklog);
    return 0;
}
