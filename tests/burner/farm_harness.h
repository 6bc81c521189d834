#pragma once
// End-to-end harness: a board farm process, the real ZelBurner started as the
// console starts it, and a report receiver in this process standing in for
// the console window.

#include "image_builder.h"
#include "report_receiver.h"

#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct ReceivedReport {
    int kind;
    int slot;
    qint64 value;
};

// A trace report (kind 5), kept apart from the numbered ones.
struct ReceivedTrace {
    int slot;
    QByteArray bytes;
    size_t reportsBefore;  // numbered reports that arrived before it
};

struct WorkerRun {
    int exitCode = -1;
    std::vector<ReceivedReport> reports;
    std::vector<ReceivedTrace> traces;
    QByteArray output;
    qint64 elapsedMs = 0;
};

// One FWC as the board received it.
struct BoardFwc {
    std::string name;
    quint32 size = 0;       // announced with the data start
    quint64 received = 0;   // data bytes, padding included
    quint32 crc = 0;        // what the board computed
    bool complete = false;
    std::vector<uint8_t> entry;  // the 512-byte meta entry
};

class FarmTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the farm with "vboard-farm start" arguments (boards, options).
    void startFarm(const QStringList &args);
    // One control line; the farm's answer.
    std::string farm(const std::string &line);
    // What the board at position received, from the farm's "received" answer.
    std::vector<BoardFwc> boardFwcs(const QString &position);
    // Writes the image into the working directory; its path.
    QString writeImage(const zelimg::ImageDesc &desc, const QString &name = QStringLiteral("image.img"));
    // Runs ZelBurner for slot and position until it ends, handling its reports.
    WorkerRun runWorker(int slot, const QString &imagePath, const QString &position,
                        const QString &logName = QStringLiteral("100"));
    // Runs ZelBurner with these arguments in workDir (default: the working
    // directory); a worker still running after limitMs is killed and fails the test.
    WorkerRun runWorkerWith(const QStringList &args, const QString &workDir = QString(),
                            qint64 limitMs = 120000);
    // Text of the worker's log of that run.
    QString workerLog(const QString &position, const QString &logName = QStringLiteral("100")) const;
    void setListening(bool listening) { m_listening = listening; }
    // Runs inside the report handler, while the worker waits for its answer.
    void setWhileHandling(std::function<void(const ReceivedReport &)> action) { m_whileHandling = std::move(action); }
    // Process id of the worker of the current run.
    qint64 workerPid() const { return m_workerPid; }
    // Runs while the worker waits on its first progress or result report of
    // the next run (the board's trace comes before the image is read).
    void setBeforeFirstReport(std::function<void()> action) { m_beforeFirstReport = std::move(action); }

    QTemporaryDir m_work;
    QTemporaryDir m_runtime;
    QString m_socket;
    bool m_farmRunning = false;
    bool m_listening = true;
    std::function<void(const ReceivedReport &)> m_whileHandling;
    qint64 m_workerPid = 0;
    std::function<void()> m_beforeFirstReport;
    QByteArray m_previousRuntime;
};

// Reports of one kind, in order.
std::vector<ReceivedReport> ofKind(const std::vector<ReceivedReport> &reports, int kind);
// An image description with its header texts filled in and no components.
zelimg::ImageDesc emptyImage();
// A component whose CRC the builder computes.
zelimg::Component component(const std::string &name, const std::string &partition, uint32_t ram,
                            const std::string &attributes, std::vector<uint8_t> bytes);
// A component of size bytes with a recognisable pattern.
std::vector<uint8_t> patternBytes(size_t size, uint8_t seed);
