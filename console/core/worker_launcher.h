#pragma once
// Starts one ZelBurner per burn, from the console's own folder, and watches
// each until it ends. The console never writes to a worker nor reads its
// output; it learns the burn's course from the worker's reports, and from the
// process only that it ended.

#include <QDateTime>
#include <QObject>
#include <QProcess>
#include <QVector>

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
    // The running worker of slot has sent its result report.
    void noteResult(int slot);

signals:
    // The worker of slot ended or could not start; resultSeen: it sent its result.
    void workerEnded(int slot, bool resultSeen);

private:
    void onFinished(QProcess *process, int exitCode, QProcess::ExitStatus status);
    void onError(QProcess *process, QProcess::ProcessError error);
    void release(QProcess *process, const QString &how);

    struct Worker {
        QProcess *process = nullptr;
        bool resultSeen = false;
    };
    QVector<Worker> m_workers;
};
