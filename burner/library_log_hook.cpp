#include "library_log_hook.h"

#include "settings_store.h"

#include <QDebug>
#include <QString>

int libraryLogWanted(int level)
{
    if (level < -1 || level > 7)
        return 0;
    return level != 7 || SettingsStore::instance()->isVerbose();
}

int libraryLogHook(int level, const char *text)
{
    if (!libraryLogWanted(level))
        return 0;

    const QString message = QString::fromUtf8(text ? text : "");
    switch (level) {
    case -1:
    case 7:
        qDebug().noquote() << message;
        break;
    case 6:
        qInfo().noquote() << message;
        break;
    case 1:
    case 4:
    case 5:
        qWarning().noquote() << message;
        break;
    default: // 0, 2, 3
        qCritical().noquote() << message;
        break;
    }
    return 0;
}
