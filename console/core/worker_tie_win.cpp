// Windows: every worker joins one job object that kills its processes when
// the console ends (worker_job_win.cpp).
#include "worker_tie.h"

#include "worker_job_win.h"

#include <QDebug>
#include <QProcess>

WorkerTie::WorkerTie()
{
    unsigned long error = 0;
    m_job = createWorkerJob(&error);
    if (!m_job)
        qCritical() << "Cannot create the workers' job object, error" << error;
}

// Ends the workers that still run, as a crash of the console would.
WorkerTie::~WorkerTie()
{
    if (m_job)
        closeWorkerJob(m_job);
}

void WorkerTie::prepare(QProcess *)
{
}

void WorkerTie::adopt(QProcess *worker)
{
    unsigned long error = 0;
    if (m_job && !addToWorkerJob(m_job, worker->processId(), &error))
        qCritical() << "Cannot tie worker" << worker->processId() << "to the console, error"
                    << error;
}
