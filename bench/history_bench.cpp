// The console with a busy line's history: 100,000 burns today, made through
// the console's own database class, then the real console window (offscreen,
// 16 slots, an image selected) in this process. Prints the time from start to
// the window shown, the resident memory, the time from a result report to its
// row added (p50/p99) while 16 senders report as workers do (progress every
// 20 ms, then a result, each returning once the console handled it), the time to switch to
// the day and the CSV export of the day.
//   history_bench [ROWS] [RESULTS_PER_SENDER]   (default 100000 and 50)
#include "application_font.h"
#include "console_resources.h"
#include "burn_session.h"
#include "burn_tab.h"
#include "history_database.h"
#include "history_tab.h"
#include "image_builder.h"
#include "report_protocol.h"
#include "veldmark.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace
{

constexpr int kSenders = 16;
constexpr int kProgressPerResult = 20;
constexpr qint64 kImageBytes = 1024 * 1024;
// A worker reports its progress ten times a second at most; reports 20 ms
// apart, as when it reported every 1 MiB chunk, are the harder case.
constexpr int kReportGapMs = 20;

// Resident and peak resident memory in MiB.
std::pair<double, double> residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double rss = 0;
    double peak = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() >= 2 && f[0] == "VmRSS:")
                rss = f[1].toDouble() / 1024;
            if (f.size() >= 2 && f[0] == "VmHWM:")
                peak = f[1].toDouble() / 1024;
        }
    }
    return {rss, peak};
}

bool seed(int rows)
{
    HistoryDatabase database(QStringLiteral("data.db"));
    const QDateTime dayStart(QDate::currentDate(), QTime(0, 0));
    const qint64 span = std::max<qint64>(1, dayStart.secsTo(QDateTime::currentDateTime()));
    QList<HistoryRecord> chunk;
    for (int i = 0; i < rows; ++i) {
        HistoryRecord record;
        record.usbPort = QStringLiteral("1:%1:%2").arg(i % 4 + 1).arg(i % 7 + 1);
        record.imageFile = QStringLiteral("zelkora_v3.2.1_release.img");
        record.beginTime = dayStart.addSecs(qint64(i) * span / rows);
        record.usedSeconds = 40 + i % 30;
        record.result = i % 50 == 0 ? 0 : 1;
        chunk << record;
        if (chunk.size() == 5000 || i == rows - 1) {
            if (!database.insertMissing(chunk))
                return false;
            chunk.clear();
        }
    }
    return true;
}

bool writeSettings(const QString &work)
{
    zelimg::ImageDesc desc;
    desc.platform = "zk3308";
    desc.product = "bench";
    desc.version = "1.0";
    desc.mediaType = "emmc";
    desc.mediaId = "mmc0";
    desc.components.push_back({"image.target.data", "data", 0, "burn",
                               std::vector<uint8_t>(kImageBytes, 0x5a), std::nullopt, "ZEL.FWC"});
    const QString image = QDir(work).filePath(QStringLiteral("bench.img"));
    std::string error;
    if (!zelimg::writeImage(desc, image.toStdString(), &error))
        return false;
    QFile ini(QDir(work).filePath(QStringLiteral("Veldmark.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return false;
    ini.write(QStringLiteral("[common]\nimage_path=%1\nmax_dev_count=16\ndev_column_count=2\n"
                             "[system]\ndb_created=1\n")
                  .arg(image)
                  .toUtf8());
    return true;
}

double percentile(std::vector<double> values, int p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * p / 100)];
}

} // namespace

int main(int argc, char *argv[])
{
    const int rows = argc > 1 ? std::max(1, atoi(argv[1])) : 100000;
    const int results = argc > 2 ? std::max(1, atoi(argv[2])) : 50;
    QTemporaryDir work;
    QTemporaryDir runtime;
    if (!work.isValid() || !runtime.isValid() || !QDir::setCurrent(work.path()))
        return 1;
    QFile::setPermissions(runtime.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!writeSettings(work.path()))
        return 1;
    {
        // The database class wants an application object for its instance only.
        QCoreApplication seeding(argc, argv);
        if (!seed(rows)) {
            std::fprintf(stderr, "history_bench: seeding the history failed\n");
            return 1;
        }
    }

    // As the console's main does, from the application object to the window shown.
    QElapsedTimer startClock;
    startClock.start();
    QApplication app(argc, argv);
    initConsoleResources();
    installApplicationFont();
    Veldmark window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    const double startMs = startClock.nsecsElapsed() / 1e6;
    // The operator looks at today's history while the line burns.
    window.findChild<QListWidget *>(QStringLiteral("left_menu"))->setCurrentRow(1);
    QTest::qWait(200);
    const auto [rssShown, peakShown] = residentMiB();

    // The console acts only on the reports of the workers it started, and the
    // senders here are threads of this process: they hand their reports to the
    // burn tab as the Windows message path does (no sender process, the
    // sender blocked until the console has handled the report).
    auto *burnTab = window.findChild<BurnTab *>();
    const auto deliver = [burnTab](quint32 kind, const QByteArray &payload) {
        double handlerMs = 0;
        QMetaObject::invokeMethod(
            burnTab,
            [=, &handlerMs] {
                QElapsedTimer handler;
                handler.start();
                burnTab->handleReport(kind, payload);
                handlerMs = handler.nsecsElapsed() / 1e6;
            },
            Qt::BlockingQueuedConnection);
        return handlerMs;
    };
    // A result is on screen once its slot shows it and its row is in the
    // table: both happen once the row is on the disk, after the handler.
    auto *session = window.findChild<BurnSession *>();
    std::vector<QSemaphore> shownResults(kSenders);
    std::vector<std::atomic<qint64>> shownAt(kSenders);
    QElapsedTimer clock;
    clock.start();
    int succeededSlot = -1;
    QObject::connect(session, &BurnSession::slotChanged, [&](int slot) {
        if (slot < kSenders && session->slot(slot).state == SlotSucceeded)
            succeededSlot = slot;
    });
    QObject::connect(session, &BurnSession::recorded, [&](const HistoryRecord &) {
        if (succeededSlot < 0)
            return;
        shownAt[succeededSlot] = clock.nsecsElapsed();
        shownResults[succeededSlot].release();
        succeededSlot = -1;
    });
    std::vector<std::vector<double>> handlerTimes(kSenders);
    std::vector<std::vector<double>> progressTimes(kSenders);
    std::vector<std::vector<double>> latencies(kSenders);
    std::atomic<int> running{kSenders};
    std::vector<std::thread> senders;
    for (int slot = 0; slot < kSenders; ++slot) {
        senders.emplace_back([&, slot] {
            for (int r = 0; r < results; ++r) {
                for (int p = 0; p < kProgressPerResult; ++p) {
                    progressTimes[slot].push_back(deliver(ReportProgress,
                            buildReportPayload(slot, quint64(p) * kImageBytes / kProgressPerResult)));
                    QThread::msleep(kReportGapMs);
                }
                const qint64 start = clock.nsecsElapsed();
                handlerTimes[slot].push_back(deliver(ReportResult, buildReportPayload(slot, 1)));
                shownResults[slot].acquire();
                latencies[slot].push_back((shownAt[slot] - start) / 1e6);
            }
            if (--running == 0)
                QMetaObject::invokeMethod(qApp, "quit", Qt::QueuedConnection);
        });
    }
    app.exec();
    for (std::thread &t : senders)
        t.join();
    const auto joined = [](const std::vector<std::vector<double>> &perSender) {
        std::vector<double> all;
        for (const auto &l : perSender)
            all.insert(all.end(), l.begin(), l.end());
        return all;
    };
    const std::vector<double> all = joined(latencies);
    const std::vector<double> handled = joined(handlerTimes);
    const std::vector<double> progress = joined(progressTimes);

    // Every result must have become a row, or the figures above measured nothing.
    const int recorded =
        HistoryDatabase::instance()->historyPage(QDate::currentDate().toString(
                                                     QStringLiteral("yyyy-MM-dd")),
                                                 -1, -1, rows + kSenders * results + 1)
            .size();
    auto *history = window.findChild<HistoryTab *>();
    history->findChild<QPushButton *>(QStringLiteral("pre_btn"))->click();
    clock.start();
    history->findChild<QPushButton *>(QStringLiteral("next_btn"))->click();
    QCoreApplication::processEvents();
    const double switchMs = clock.nsecsElapsed() / 1e6;
    QSignalSpy exportFinished(history, &HistoryTab::exportFinished);
    clock.restart();
    const bool exported = history->startExport(QStringLiteral("day.csv"), false) &&
                          exportFinished.wait(60000) && exportFinished.first().first().toBool();
    const double exportMs = clock.nsecsElapsed() / 1e6;
    const auto [rssEnd, peakEnd] = residentMiB();

    std::printf("\nhistory_bench: %d rows today, %d senders x %d results (%d progress reports "
                "before each)\n",
                rows, kSenders, results, kProgressPerResult);
    std::printf("%-42s %10.0f ms\n", "start to window shown", startMs);
    std::printf("%-42s %10.0f MiB (peak %.0f)\n", "resident memory, window shown", rssShown,
                peakShown);
    std::printf("%-42s %10.0f MiB (peak %.0f)\n", "resident memory, at the end", rssEnd, peakEnd);
    std::printf("%-42s %10.2f ms / %.2f ms (%zu results)\n", "result to slot and row shown, p50 / p99",
                percentile(all, 50), percentile(all, 99), all.size());
    std::printf("%-42s %10.2f ms / %.2f ms\n", "the result's handler, p50 / p99",
                percentile(handled, 50), percentile(handled, 99));
    std::printf("%-42s %10.2f ms / %.2f ms\n", "a progress report's handler, p50 / p99",
                percentile(progress, 50), percentile(progress, 99));
    std::printf("%-42s %10d of %d\n", "rows today at the end", recorded,
                rows + kSenders * results);
    std::printf("%-42s %10.0f ms\n", "switch to the day", switchMs);
    std::printf("%-42s %10.0f ms%s\n", "CSV export of the day", exportMs,
                exported ? "" : " (FAILED)");
    return exported && all.size() == size_t(kSenders) * size_t(results) &&
                   recorded == rows + kSenders * results
               ? 0
               : 1;
}
