#include "app_info.h"

namespace AppInfo
{

QString programName()
{
    return QStringLiteral("Zelkora量产工具");
}

QString versionText()
{
    return QStringLiteral("%1.%2.%3").arg(kMajor).arg(kMinor).arg(kPatch);
}

QString windowTitle()
{
    return programName() + QStringLiteral(" v") + versionText();
}

QString buildTime()
{
    return QStringLiteral(__DATE__ __TIME__);
}

} // namespace AppInfo
