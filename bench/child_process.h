#pragma once
// A child process of the benchmark, started with an environment and working
// directory of its own and reaped with its resource usage: the CPU time of
// all its threads, as the kernel counts it.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

struct ChildUsage {
    double wallS = 0; // start to exit
    double cpuS = 0;  // user + system
    double userS = 0; // user only
    bool exitedOk = false;
};

// Seconds on the monotonic clock.
double nowSeconds();

// This process's environment with some variables replaced or added.
std::vector<std::string> environmentWith(const std::map<std::string, std::string> &overrides);

class Child
{
public:
    Child() = default;
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // argv[0] is the program's path; standard output and error go to the
    // file output (appended).
    bool start(const std::vector<std::string> &argv, const std::vector<std::string> &env,
               const std::string &cwd, const std::string &output);
    // True once the child has ended; usage() is then filled. Never blocks.
    bool poll();
    // Blocks until the child has ended.
    void wait();
    // Ends a child that overran, and reaps it.
    void kill();

    bool running() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    double startedAt() const { return m_started; }
    const ChildUsage &usage() const { return m_usage; }

private:
    bool reap(int flags);

    pid_t m_pid = -1;
    double m_started = 0;
    ChildUsage m_usage;
};
