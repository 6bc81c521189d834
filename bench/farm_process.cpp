#include "farm_process.h"

#include "vboard_host.h"

#include <chrono>
#include <cstdlib>
#include <thread>

FarmProcess::FarmProcess(const std::string &program, const std::string &socket,
                         const std::string &log)
    : m_program(program), m_socket(socket), m_log(log)
{
}

FarmProcess::~FarmProcess()
{
    if (m_child.running())
        stop();
}

bool FarmProcess::start(const std::vector<std::string> &args)
{
    std::vector<std::string> argv = {m_program, "start", "--foreground", "--socket", m_socket};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!m_child.start(argv, environmentWith({}), "", m_log))
        return false;
    std::string reply;
    for (int i = 0; i < 1000; i++) {
        if (command("list", &reply))
            return true;
        if (m_child.poll())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_child.kill();
    return false;
}

bool FarmProcess::command(const std::string &line, std::string *reply)
{
    return vboard::farmCommand(m_socket, line, reply);
}

double FarmProcess::linkBusyS(const std::string &position)
{
    const long long us = stateField(position, "link_us");
    return us < 0 ? -1 : double(us) / 1e6;
}

long long FarmProcess::stateField(const std::string &position, const std::string &key)
{
    std::string reply;
    if (!command("state " + position, &reply))
        return -1;
    const std::string field = " " + key + "=";
    const size_t at = reply.find(field);
    return at == std::string::npos ? -1 : std::strtoll(reply.c_str() + at + field.size(), nullptr, 10);
}

ChildUsage FarmProcess::stop()
{
    std::string reply;
    command("stop", &reply);
    m_child.wait();
    return m_child.usage();
}
