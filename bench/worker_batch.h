#pragma once
// Starts ZelBurner workers as the console does (one per board, the image path
// percent-encoded) and stands in for the console window: it receives their
// reports through the console's own receiver, time-stamps them, and reaps the
// workers with their resource usage.

#include "child_process.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class ReportReceiver;

struct WorkerJob {
    int slot = 0;
    std::string image;
    std::string position;
    // Environment variables of this worker alone, over the batch's.
    std::map<std::string, std::string> env = {};
};

struct WorkerOutcome {
    ChildUsage usage;
    double spawnedAt = 0;       // monotonic seconds
    double firstReportS = -1;   // start to the first report handled
    int result = -1;            // value of the result report; -1 when none came
    long long lastProgress = 0; // value of the last progress report
    long peakRssKb = 0;         // the worker's peak resident memory when it reported its result
};

struct WorkerEnvironment {
    std::string burner;  // ZelBurner
    std::string vusbDir; // directory of the libusb test library
    std::string farmSocket;
    std::string runtimeDir; // private directory of the report socket
    std::string workDir;    // the workers' current directory (their logs)
};

class WorkerBatch
{
public:
    explicit WorkerBatch(const WorkerEnvironment &env);
    ~WorkerBatch();
    WorkerBatch(const WorkerBatch &) = delete;
    WorkerBatch &operator=(const WorkerBatch &) = delete;

    // False when the console's report socket cannot be taken.
    bool listen();
    // Starts every worker at once and returns when all have ended (or have
    // been killed after timeoutS).
    std::vector<WorkerOutcome> run(const std::vector<WorkerJob> &jobs, double timeoutS);

private:
    WorkerEnvironment m_env;
    std::unique_ptr<ReportReceiver> m_receiver;
};
