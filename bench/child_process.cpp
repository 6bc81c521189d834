#include "child_process.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

double nowSeconds()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::vector<std::string> environmentWith(const std::map<std::string, std::string> &overrides)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('='));
        if (!overrides.count(name))
            env.push_back(entry);
    }
    for (const auto &kv : overrides)
        env.push_back(kv.first + "=" + kv.second);
    return env;
}

Child::~Child()
{
    if (running())
        kill();
}

bool Child::start(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                  const std::string &cwd, const std::string &output)
{
    std::vector<char *> args, envp;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (!cwd.empty())
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    m_usage = ChildUsage();
    m_started = nowSeconds();
    const int rc = posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        m_pid = -1;
    return rc == 0;
}

bool Child::reap(int flags)
{
    if (!running())
        return true;
    int status = 0;
    rusage ru{};
    pid_t got;
    do {
        got = wait4(m_pid, &status, flags, &ru);
    } while (got < 0 && errno == EINTR);
    if (got == 0)
        return false;
    m_usage.wallS = nowSeconds() - m_started;
    m_usage.cpuS = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                   double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    m_usage.userS = double(ru.ru_utime.tv_sec) + double(ru.ru_utime.tv_usec) / 1e6;
    m_usage.exitedOk = got == m_pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    m_pid = -1;
    return true;
}

bool Child::poll()
{
    return reap(WNOHANG);
}

void Child::wait()
{
    reap(0);
}

void Child::kill()
{
    if (running())
        ::kill(m_pid, SIGKILL);
    reap(0);
    m_usage.exitedOk = false;
}
