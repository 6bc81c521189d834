// Fuzz target: the worker's argument scan and checks. The input is split at
// NUL bytes into an argument vector. Whatever passes the checks must name a
// board by a position the library cannot read as "any board" (or a serial
// port that stays a plain device path), and must give
// the log path pieces that cannot leave the log tree.

#include "upg_port_text.h"
#include "usb_position.h"
#include "worker_args.h"

#include <QStringList>

#include <string>
#include <vector>

namespace
{
bool onlyDigitsAndColons(const QString &text, bool colons)
{
    for (const QChar c : text) {
        if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) && !(colons && c == QLatin1Char(':')))
            return false;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> words(1, "ZelBurner");
    words.emplace_back();
    for (size_t i = 0; i < size && words.size() < 40; i++) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back().push_back(char(data[i]));
    }
    std::vector<const char *> argv;
    for (const std::string &w : words)
        argv.push_back(w.c_str());

    const WorkerArgs args = parseWorkerArgs(int(argv.size()), argv.data());
    if (!args.usable() || !workerArgsProblem(args).isEmpty())
        return 0;
    if (upg_port_is_serial(args.usbPosition.toLocal8Bit().constData())) {
        // A serial port also names the log folder: printable, and never a
        // path that climbs.
        for (const QChar c : args.usbPosition)
            if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
                __builtin_trap();
        const QStringList parts = args.usbPosition.split(QLatin1Char('/'));
        if (parts.contains(QStringLiteral("..")) || parts.contains(QStringLiteral(".")))
            __builtin_trap();
        if (!onlyDigitsAndColons(args.logName, false) || args.imagePath.contains(QChar(0)))
            __builtin_trap();
        return 0;
    }
    UsbPosition position;
    if (!parseUsbPosition(args.usbPosition, &position) || position.bus == 255)
        __builtin_trap();
    for (int i = 0; i < 7; i++) {
        // Ports run from the root hub down without a gap.
        if (position.ports[i] == 0 && i < 6 && position.ports[i + 1] != 0)
            __builtin_trap();
    }
    if (!onlyDigitsAndColons(args.usbPosition, true) || !onlyDigitsAndColons(args.logName, false))
        __builtin_trap();
    if (args.imagePath.contains(QChar(0)))
        __builtin_trap();
    return 0;
}
