#include "flash_platform.h"

#include "image_upgrade.h"

#include <windows.h>

#include <csignal>
#include <cstdio>
#include <io.h>

namespace
{

volatile LONG g_signal = 0;

// Console events arrive on a thread of their own; the burn stops at its next
// safe point. Ctrl-C counts as SIGINT, the others (Ctrl-Break, the window
// closed, logoff, shutdown) as SIGTERM, so the exit statuses match Linux.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    const LONG signal = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    // A second Ctrl-C ends the program at once.
    if (InterlockedCompareExchange(&g_signal, signal, 0) != 0)
        return FALSE;
    upg_request_stop();
    return TRUE;
}

bool comPortExists(const std::string &name)
{
    char target[512];
    return QueryDosDeviceA(name.c_str(), target, sizeof(target)) != 0;
}

} // namespace

void installStopHandlers()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

int stopSignal()
{
    return static_cast<int>(g_signal);
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
    return _isatty(_fileno(stdout)) != 0;
}

std::vector<std::string> serialPorts()
{
    std::vector<std::string> ports;
    for (int n = 1; n <= 256; ++n) {
        const std::string name = "COM" + std::to_string(n);
        if (comPortExists(name))
            ports.push_back(name);
    }
    return ports;
}

bool serialPortPresent(const std::string &port)
{
    return comPortExists(port);
}
