#include "app_info.h"

#include "report_protocol.h"

namespace AppInfo
{

QString windowTitle()
{
    return consoleWindowTitle();
}

QString versionText()
{
    return QStringLiteral("%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionPatch);
}

QString feedbackLink(const QString &serviceAddress)
{
    QString address = serviceAddress;
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    return address + QStringLiteral("/api/feedback_edit?app_id=") + QString::number(kAppId) +
           QStringLiteral("&version_no=") + versionText();
}

QString buildTime()
{
    return QStringLiteral(__DATE__ __TIME__);
}

} // namespace AppInfo
