#include "worker_launcher.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QMetaEnum>
#include <QUrl>

WorkerLauncher::WorkerLauncher(int slotCount, QObject *parent)
    : QObject(parent), m_workers(slotCount)
{
}

// Workers outlive the console: their process objects are let go, not killed.
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
    // No parent: a worker still running when the console closes must not be killed.
    auto *process = new QProcess;
    process->setProperty("slot", slot);
    // Nothing of the worker's output is kept; its log file has it all.
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::errorOccurred, this,
            [this, process](QProcess::ProcessError error) { onError(process, error); });
    connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this, process](int code, QProcess::ExitStatus status) {
                onFinished(process, code, status);
            });
    m_workers[slot] = {process, false};
    process->start(workerProgram(), workerArguments(slot, imagePath, port, startSeconds));
    return true;
}

bool WorkerLauncher::isRunning(int slot) const
{
    return slot >= 0 && slot < m_workers.size() && m_workers[slot].process;
}

void WorkerLauncher::noteResult(int slot)
{
    if (isRunning(slot))
        m_workers[slot].resultSeen = true;
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

void WorkerLauncher::release(QProcess *process, const QString &how)
{
    const int slot = process->property("slot").toInt();
    process->disconnect(this);
    process->deleteLater();
    if (m_workers[slot].process != process)
        return;
    const bool resultSeen = m_workers[slot].resultSeen;
    m_workers[slot] = Worker();
    if (!resultSeen)
        qCritical().noquote() << "Burn process of slot" << slot << how << "without a result";
    emit workerEnded(slot, resultSeen);
}
