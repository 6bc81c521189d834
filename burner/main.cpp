// ZelBurner: burns one image into the one board at one USB position and
// reports to the console. Always exits with status 0; the console learns the
// outcome from the reports alone.

#include "logger.h"
#include "worker_args.h"

int main(int argc, char *argv[])
{
    const WorkerArgs args = parseWorkerArgs(argc, argv);
    if (!args.usable())
        return 0;

    Logger logger(args.usbPosition, args.logName);
    installLogMessageHandler();
    Logger::close();
    return 0;
}
