#include "burn_log.h"

QString burnLogPath(const HistoryRecord &record)
{
    QString board = record.usbPort;
    board.replace(QLatin1Char(':'), QLatin1Char('#'));
    return record.beginTime.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('/') + board +
           QLatin1Char('/') + QString::number(record.beginTime.toSecsSinceEpoch()) +
           QStringLiteral(".log");
}

QtMsgType burnLogLineLevel(const QString &line)
{
    if (line.startsWith(QLatin1String("[error]")) || line.startsWith(QLatin1String("[fatal]")))
        return QtCriticalMsg;
    if (line.startsWith(QLatin1String("[warn ]")))
        return QtWarningMsg;
    return QtDebugMsg;
}
