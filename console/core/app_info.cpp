#include "app_info.h"

#include "report_protocol.h"
#include "source_date.h"

#include <QDateTime>
#include <QLocale>

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
    return buildTime(kSourceDateEpoch);
}

QString buildTime(qint64 secondsSinceEpoch)
{
    const QDateTime time = QDateTime::fromSecsSinceEpoch(secondsSinceEpoch, Qt::UTC);
    // English month names and a space-padded day, whatever the user's locale.
    const QLocale c = QLocale::c();
    return c.toString(time, QStringLiteral("MMM ")) +
           QStringLiteral("%1").arg(time.date().day(), 2, 10, QLatin1Char(' ')) +
           c.toString(time, QStringLiteral(" yyyyhh:mm:ss"));
}

} // namespace AppInfo
