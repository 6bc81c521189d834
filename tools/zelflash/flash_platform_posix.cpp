#include "flash_platform.h"

#include "image_upgrade.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

volatile std::sig_atomic_t g_signal = 0;

void onStop(int signal)
{
    g_signal = signal;
    upg_request_stop();
}

std::vector<std::string> entries(const std::string &dir, bool (*wanted)(const std::string &))
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != ".." && wanted(name))
            names.push_back(dir + "/" + name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

bool any(const std::string &)
{
    return true;
}

// USB serial adapters and modems: the ports a board on a bench is wired to.
// The platform's fixed UARTs (ttyS*) exist whether anything is wired or not.
bool usbSerial(const std::string &name)
{
    return name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
}

} // namespace

void installStopHandlers()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND; // a second Ctrl-C ends the program at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int stopSignal()
{
    return g_signal;
}

int stopExitStatus(int signal)
{
    return 128 + signal;
}

std::string stopSignalName(int signal)
{
    return signal == SIGINT ? "Ctrl-C" : signal == SIGTERM ? "SIGTERM" : "a signal";
}

bool standardOutputIsTerminal()
{
    return isatty(STDOUT_FILENO) != 0;
}

std::vector<std::string> serialPorts()
{
    std::vector<std::string> ports = entries("/dev/serial/by-id", any);
    for (const std::string &p : entries("/dev", usbSerial))
        ports.push_back(p);
    return ports;
}

bool serialPortPresent(const std::string &port)
{
    struct stat st;
    return stat(port.c_str(), &st) == 0;
}
