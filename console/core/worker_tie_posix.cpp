// POSIX: the worker asks the kernel for a signal when its parent ends and
// checks that the console named here is still its parent (console_tie_posix.cpp).
#include "worker_tie.h"

#include "report_protocol.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

WorkerTie::WorkerTie() = default;
WorkerTie::~WorkerTie() = default;

void WorkerTie::prepare(QProcess *worker)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(kConsolePidVariable),
               QString::number(QCoreApplication::applicationPid()));
    worker->setProcessEnvironment(env);
}

void WorkerTie::adopt(QProcess *)
{
}
