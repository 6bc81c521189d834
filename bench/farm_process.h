#pragma once
// One board farm for one measurement: started in the foreground as a child
// of the benchmark, so that its CPU time can be read when it stops.

#include "child_process.h"

#include <string>
#include <vector>

class FarmProcess
{
public:
    FarmProcess(const std::string &program, const std::string &socket, const std::string &log);
    ~FarmProcess();
    FarmProcess(const FarmProcess &) = delete;
    FarmProcess &operator=(const FarmProcess &) = delete;

    // "vboard-farm start" arguments; returns once the farm answers.
    bool start(const std::vector<std::string> &args);
    // One control line; false when the farm did not answer "ok".
    bool command(const std::string &line, std::string *reply);
    // Time the link model charged the board at position so far, in seconds.
    double linkBusyS(const std::string &position);
    // A number of the board's state line ("fwc_bytes", "first_command_ns", ...);
    // -1 when the farm or the field is not there.
    long long stateField(const std::string &position, const std::string &key);
    // Stops the farm; its usage over its whole life.
    ChildUsage stop();

private:
    std::string m_program;
    std::string m_socket;
    std::string m_log;
    Child m_child;
};
