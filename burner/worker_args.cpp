#include "worker_args.h"

#include "upg_port_text.h"
#include "usb_position.h"

#include <QByteArray>
#include <QStringList>
#include <QDate>
#include <QRegularExpression>

#include <cstring>

namespace {
// Start times are seconds since 1970: up to 20 digits fit in 64 bits. No
// log name at all gives the log file ".log".
bool isStartTime(const QString &text)
{
    if (text.isEmpty())
        return true;
    if (text.size() > 20)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    bool fits = false;
    text.toULongLong(&fits);
    return fits;
}

// The day names a log folder: only the exact form, of a real day, passes.
bool isDay(const QString &text)
{
    static const QRegularExpression dayPattern(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    return text.isEmpty() || (dayPattern.match(text).hasMatch() &&
                              QDate::fromString(text, QStringLiteral("yyyy-MM-dd")).isValid());
}

// The value with control and non-ASCII characters written as \xNN, for a
// message line.
QString shown(const QString &value)
{
    QString text;
    for (const QChar c : value) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f)
            text += c;
        else
            text += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// The percent-decoded path, NUL bytes kept (QString::fromUtf8 of a whole
// byte array would cut it at the first one) so they can be refused.
QString decodedPath(const char *value)
{
    const QByteArray bytes = QByteArray::fromPercentEncoding(QByteArray(value));
    return QString::fromUtf8(bytes.constData(), bytes.size());
}
}  // namespace

WorkerArgs parseWorkerArgs(int argc, const char *const *argv)
{
    WorkerArgs args;
    for (int p = 1; p + 1 < argc; ++p) {
        const char *option = argv[p];
        const char *value = argv[p + 1];
        if (std::strcmp(option, "-i") == 0)
            args.slotIndex = QByteArray(value).toInt();
        else if (std::strcmp(option, "-f") == 0)
            args.imagePath = decodedPath(value);
        else if (std::strcmp(option, "-d") == 0)
            args.usbPosition = QString::fromLatin1(value);
        else if (std::strcmp(option, "-t") == 0)
            args.logName = QString::fromLatin1(value);
        else if (std::strcmp(option, "-day") == 0)
            args.logDay = QString::fromLatin1(value);
    }
    return args;
}

namespace {
// A serial port the worker may open: COMn, or an absolute device path of
// printable ASCII without "." or ".." parts (it also names the log folder).
bool isUsableSerialPort(const QString &name)
{
    if (!upg_port_is_serial(name.toLocal8Bit().constData()))
        return false;
    for (const QChar c : name) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
            return false;
    }
    const QStringList parts = name.split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral(".")) && !parts.contains(QStringLiteral("..")) &&
           name.size() > 1;
}
}  // namespace

QString workerArgsProblem(const WorkerArgs &args)
{
    UsbPosition position;
    if (upg_port_is_serial(args.usbPosition.toLocal8Bit().constData())) {
        if (!isUsableSerialPort(args.usbPosition))
            return QStringLiteral("-d %1 is not a usable serial port (COMn, or an absolute "
                                  "device path of printable characters)")
                .arg(shown(args.usbPosition));
    } else if (!parseUsbPosition(args.usbPosition, &position))
        return QStringLiteral(
                   "-d %1 is not a USB position (a bus number up to 254, then up to seven "
                   "\":\"-separated port numbers from 1 to 255)")
            .arg(shown(args.usbPosition));
    if (!isStartTime(args.logName))
        return QStringLiteral("-t %1 is not a start time (decimal seconds)")
            .arg(shown(args.logName));
    if (!isDay(args.logDay))
        return QStringLiteral("-day %1 is not a day (yyyy-MM-dd)").arg(shown(args.logDay));
    if (args.imagePath.contains(QChar(0)))
        return QStringLiteral("-f %1 holds a NUL byte").arg(shown(args.imagePath));
    return QString();
}
