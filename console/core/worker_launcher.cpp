#include "worker_launcher.h"

#include "settings_store.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QMetaEnum>
#include <QTimer>
#include <QUrl>

namespace
{

// How late a silence check may come before it is taken for a console that
// was stopped or busy rather than for a silent worker.
constexpr qint64 kLateSilenceMs = 2000;

} // namespace

WorkerLauncher::WorkerLauncher(int slotCount, QObject *parent)
    : QObject(parent), m_workers(slotCount)
{
}

// Process objects are let go, not killed and waited for: a worker still
// running ends with the console through its tie.
WorkerLauncher::~WorkerLauncher()
{
    for (Worker &worker : m_workers) {
        if (worker.process)
            worker.process->disconnect(this);
    }
}

QStringList WorkerLauncher::workerArguments(int slot, const QString &imagePath, const QString &port,
                                            qint64 startSeconds)
{
    return {QStringLiteral("-i"), QString::number(slot),
            QStringLiteral("-f"), QString::fromLatin1(QUrl::toPercentEncoding(imagePath)),
            QStringLiteral("-d"), port,
            QStringLiteral("-t"), QString::number(startSeconds),
            // The history finds the log by the start's day, also for a burn
            // that starts at 23:59:59 and opens its log after midnight.
            QStringLiteral("-day"),
            QDateTime::fromSecsSinceEpoch(startSeconds).toString(QStringLiteral("yyyy-MM-dd"))};
}

QString WorkerLauncher::workerProgram()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ZelBurner"));
}

bool WorkerLauncher::start(int slot, const QString &imagePath, const QString &port,
                           qint64 startSeconds)
{
    if (slot < 0 || slot >= m_workers.size() || m_workers[slot].process)
        return false;
    // No parent: the process object is let go when the console closes.
    auto *process = new QProcess;
    process->setProperty("slot", slot);
    // Nothing of the worker's output is kept; its log file has it all.
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    m_tie.prepare(process);
    connect(process, &QProcess::errorOccurred, this,
            [this, process](QProcess::ProcessError error) { onError(process, error); });
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this, process](int code, QProcess::ExitStatus status) {
                onFinished(process, code, status);
            });
    auto *silence = new QTimer(this);
    silence->setSingleShot(true);
    const int silenceMs = SettingsStore::instance()->workerSilenceSeconds() * 1000;
    connect(silence, &QTimer::timeout, this, [this, slot] { onSilence(slot); });
    m_workers[slot] = Worker();
    m_workers[slot].process = process;
    m_workers[slot].silence = silence;
    m_workers[slot].silenceMs = silenceMs;
    process->start(workerProgram(), workerArguments(slot, imagePath, port, startSeconds));
    // Still ours: a failed start may have released it already.
    if (m_workers[slot].process == process && process->processId() > 0) {
        m_workers[slot].pid = process->processId();
        m_tie.adopt(process);
        m_workers[slot].silentFor.start();
        silence->start(silenceMs);
    }
    return true;
}

bool WorkerLauncher::isRunning(int slot) const
{
    return slot >= 0 && slot < m_workers.size() && m_workers[slot].process;
}

bool WorkerLauncher::acceptReport(int slot, qint64 senderPid)
{
    if (!isRunning(slot)) {
        // Without a named sender nothing tells a stray report from a late one.
        return senderPid == 0;
    }
    Worker &worker = m_workers[slot];
    if (senderPid != 0 && senderPid != worker.pid)
        return false;
    ++worker.reports;
    // The silence timer is not set anew at every report (tens a second from
    // each worker): once due, it looks how long the worker has been silent.
    worker.silentFor.start();
    return true;
}

void WorkerLauncher::noteResult(int slot)
{
    if (isRunning(slot))
        m_workers[slot].resultSeen = true;
}

void WorkerLauncher::setPendingReportReader(std::function<void()> readPending)
{
    m_readPending = std::move(readPending);
}

void WorkerLauncher::readPendingReports()
{
    if (m_readPending)
        m_readPending();
}

void WorkerLauncher::onError(QProcess *process, QProcess::ProcessError error)
{
    qCritical().noquote() << "Burn process error:"
                          << QMetaEnum::fromType<QProcess::ProcessError>().valueToKey(error);
    // A worker that never started sends no finished signal.
    if (error == QProcess::FailedToStart)
        release(process, QStringLiteral("failed to start"));
}

void WorkerLauncher::onFinished(QProcess *process, int exitCode, QProcess::ExitStatus status)
{
    release(process, status == QProcess::CrashExit
                         ? QStringLiteral("crashed")
                         : QStringLiteral("exited with status %1").arg(exitCode));
}

void WorkerLauncher::onSilence(int slot)
{
    if (!isRunning(slot))
        return;
    // Reported since the timer was set: silent only a full time after that report.
    const qint64 silentMs = m_workers[slot].silentFor.elapsed();
    const int silenceMs = m_workers[slot].silenceMs;
    if (silentMs < silenceMs) {
        m_workers[slot].silence->start(silenceMs - int(silentMs));
        return;
    }
    // A console that was stopped or busy finds its timers due at once: what
    // the worker sent meanwhile counts before it is taken for silent.
    const quint64 before = m_workers[slot].reports;
    readPendingReports();
    if (!isRunning(slot))
        return;
    Worker &worker = m_workers[slot];
    if (worker.reports != before) {
        worker.silence->start(silenceMs);
        return;
    }
    // Due long ago: this console stood still itself, and the worker's
    // reports may still be on their way in. It gets a full time of its own.
    if (worker.silentFor.elapsed() > silenceMs + kLateSilenceMs) {
        worker.silentFor.start();
        worker.silence->start(silenceMs);
        return;
    }
    qCritical().noquote() << QStringLiteral("Burn process of slot %1 (pid %2) sent no report for "
                                            "%3 s; ending it")
                                 .arg(slot)
                                 .arg(worker.pid)
                                 .arg(silenceMs / 1000);
    worker.process->kill();
}

void WorkerLauncher::release(QProcess *process, const QString &how)
{
    const int slot = process->property("slot").toInt();
    process->disconnect(this);
    process->deleteLater();
    if (m_workers[slot].process != process)
        return;
    // What the worker sent before it ended may still wait on the socket.
    if (!m_workers[slot].resultSeen)
        readPendingReports();
    Worker worker = m_workers[slot];
    m_workers[slot] = Worker();
    worker.silence->deleteLater();
    if (!worker.resultSeen)
        qCritical().noquote() << "Burn process of slot" << slot << how << "without a result";
    emit workerEnded(slot, worker.resultSeen);
}
