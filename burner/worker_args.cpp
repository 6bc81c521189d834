#include "worker_args.h"

#include <QByteArray>

#include <cstring>

WorkerArgs parseWorkerArgs(int argc, const char *const *argv)
{
    WorkerArgs args;
    for (int p = 1; p + 1 < argc; ++p) {
        const char *option = argv[p];
        const char *value = argv[p + 1];
        if (std::strcmp(option, "-i") == 0)
            args.slotIndex = QByteArray(value).toInt();
        else if (std::strcmp(option, "-f") == 0)
            args.imagePath = QString::fromUtf8(QByteArray::fromPercentEncoding(QByteArray(value)));
        else if (std::strcmp(option, "-d") == 0)
            args.usbPosition = QString::fromLatin1(value);
        else if (std::strcmp(option, "-t") == 0)
            args.logName = QString::fromLatin1(value);
    }
    return args;
}
