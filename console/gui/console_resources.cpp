#include "console_resources.h"

#include <QDebug>
#include <QFile>

// Q_INIT_RESOURCE must be expanded outside any namespace.
void initConsoleResources()
{
    Q_INIT_RESOURCE(console);
}

QString consoleStyleSheet()
{
    QFile file(QStringLiteral(":/qss/style.qss"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning() << "Failed to read the style sheet";
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}
