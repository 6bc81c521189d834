#include "app_info.h"

#include "report_protocol.h"

namespace AppInfo
{

QString windowTitle()
{
    return consoleWindowTitle();
}

QString buildTime()
{
    return QStringLiteral(__DATE__ __TIME__);
}

} // namespace AppInfo
