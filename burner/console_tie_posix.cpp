#include "console_tie.h"

#include "report_protocol.h"

#include <QByteArray>
#include <QtGlobal>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

bool tieToConsole()
{
    bool known = false;
    const qint64 console = qgetenv(kConsolePidVariable).toLongLong(&known);
    if (!known || console <= 0)
        return true;
    // Nothing the worker holds needs undoing: the board starts over anyway.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        return true;
    // The console may have ended between starting us and the line above:
    // we were then handed to another parent and no signal will come.
    return ::getppid() == console;
}
