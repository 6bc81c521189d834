// ZelBurner: burns one image into the one board at one USB position and
// reports to the console. Always exits with status 0; the console learns the
// outcome from the reports alone.

#include "burner.h"
#include "console_tie.h"
#include "logger.h"
#include "private_files.h"
#include "report.h"
#include "veldmark_version.h"
#include "worker_args.h"

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char *argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("ZelBurner %s\n", VELDMARK_VERSION);
        return 0;
    }
    if (!tieToConsole()) {
        std::fprintf(stderr, "ZelBurner: the console that started this worker has ended\n");
        return 0;
    }
    // Started by hand the worker still keeps its log to its user.
    useOwnerOnlyPermissions();
    const WorkerArgs args = parseWorkerArgs(argc, argv);
    if (!args.usable())
        return 0;
    const QString problem = workerArgsProblem(args);
    if (!problem.isEmpty()) {
        // Nothing is written: the log path would be built from these values.
        std::fprintf(stderr, "ZelBurner: %s\n", qUtf8Printable(problem));
        report(ReportResult, args.slotIndex, 0);
        return 0;
    }

    auto logger = std::make_unique<Logger>(args.usbPosition, args.logName, args.logDay);
    installLogMessageHandler();
    auto burner = std::make_unique<Burner>(args.usbPosition, args.imagePath, args.slotIndex);
    burner->run();
    logger.reset();
    burner.reset();
    return 0;
}
