#include "worker_job_win.h"

#include <windows.h>

void *createWorkerJob(unsigned long *error)
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job) {
        *error = GetLastError();
        return nullptr;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                 sizeof(limits))) {
        *error = GetLastError();
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

bool addToWorkerJob(void *job, int64_t processId, unsigned long *error)
{
    HANDLE process = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(processId));
    const bool added = process && AssignProcessToJobObject(static_cast<HANDLE>(job), process);
    if (!added)
        *error = GetLastError();
    if (process)
        CloseHandle(process);
    return added;
}

void closeWorkerJob(void *job)
{
    CloseHandle(static_cast<HANDLE>(job));
}
