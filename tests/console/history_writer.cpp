// Test helper: records burns into the given history file as fast as it can
// until it is killed. Prints "ready" once the first row is stored.

#include "history_database.h"

#include <QCoreApplication>
#include <QTextStream>

static const char kUsage[] = "usage: history_writer DATABASE\n"
                             "Stores history rows into DATABASE until it is killed.\n";

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString argument = argc == 2 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
        QTextStream(stdout) << kUsage;
        return 0;
    }
    // An option is never taken for a database path.
    if (argument.isEmpty() || argument.startsWith(QLatin1Char('-'))) {
        QTextStream(stderr) << kUsage;
        return 2;
    }
    HistoryDatabase db(argument);
    if (!db.isOpen())
        return 1;
    QTextStream out(stdout);
    for (qint64 n = 0;; ++n) {
        db.insertHistory(QStringLiteral("1:%1").arg(n % 16), QStringLiteral("image-%1.img").arg(n),
                         1714989600 + n, n % 600, n % 2 == 0);
        if (n == 0)
            out << "ready" << Qt::endl;
    }
}
