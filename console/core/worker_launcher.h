#pragma once
// Starts one ZelBurner per burn, from the console's own folder, ties it to the
// console's life and watches each until it ends. The console never writes to a
// worker nor reads its output; it learns the burn's course from the worker's
// reports, and from the process only that it ended. A worker that sends no
// report for the silence time is ended.

#include "worker_tie.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QVector>

#include <functional>

class QTimer;

class WorkerLauncher : public QObject
{
    Q_OBJECT
public:
    // slotCount: one worker at most per slot.
    explicit WorkerLauncher(int slotCount, QObject *parent = nullptr);
    ~WorkerLauncher() override;

    // The arguments of one burn: -i slot, -f the image path percent-encoded
    // (every UTF-8 byte except A-Z a-z 0-9 - . _ ~ as %XX), -d port, -t start,
    // -day the start's local day.
    static QStringList workerArguments(int slot, const QString &imagePath, const QString &port,
                                       qint64 startSeconds);
    // ZelBurner beside the console's own executable.
    static QString workerProgram();

    // Starts the burn of slot; false when its worker still runs.
    bool start(int slot, const QString &imagePath, const QString &port, qint64 startSeconds);
    bool isRunning(int slot) const;
    // Whether a report for slot from senderPid is to be acted on: the slot's
    // worker runs and sent it. 0 stands for a sender the platform does not
    // name; then the slot's worker, if any, is taken to have sent it. A
    // report acted on counts as a sign of life.
    bool acceptReport(int slot, qint64 senderPid);
    // The running worker of slot has sent its result report.
    void noteResult(int slot);
    // Handles every report that has reached the console; called before a
    // worker's end or silence is acted on.
    void setPendingReportReader(std::function<void()> readPending);

signals:
    // The worker of slot ended or could not start; resultSeen: it sent its result.
    void workerEnded(int slot, bool resultSeen);

private:
    void onFinished(QProcess *process, int exitCode, QProcess::ExitStatus status);
    void onError(QProcess *process, QProcess::ProcessError error);
    void onSilence(int slot);
    void release(QProcess *process, const QString &how);
    void readPendingReports();

    struct Worker {
        QProcess *process = nullptr;
        qint64 pid = 0;
        bool resultSeen = false;
        quint64 reports = 0;  // reports acted on
        QTimer *silence = nullptr;
        int silenceMs = 0;  // how long it may stay silent
        QElapsedTimer silentFor;  // since the last report, or since the start
    };
    QVector<Worker> m_workers;
    WorkerTie m_tie;
    std::function<void()> m_readPending;
};
