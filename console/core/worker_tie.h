#pragma once
// Ties every worker this console starts to the console's own life, so that
// no worker outlives it, however the console ends (worker_tie_*.cpp).

class QProcess;

class WorkerTie
{
public:
    WorkerTie();
    ~WorkerTie();
    WorkerTie(const WorkerTie &) = delete;
    WorkerTie &operator=(const WorkerTie &) = delete;

    // Before the worker starts.
    void prepare(QProcess *worker);
    // Once it runs.
    void adopt(QProcess *worker);

private:
    void *m_job = nullptr;  // Windows: the job object every worker joins
};
