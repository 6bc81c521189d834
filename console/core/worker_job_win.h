#pragma once
// A Windows job object that kills every process in it when its last handle
// closes, which the system does when the console ends, however it ends.
// Plain C++ below any Qt type.

#include <cstdint>

// The job, or nullptr with *error set to the system's error code.
void *createWorkerJob(unsigned long *error);
// Puts the process into the job; false with *error set when it cannot.
bool addToWorkerJob(void *job, int64_t processId, unsigned long *error);
void closeWorkerJob(void *job);
