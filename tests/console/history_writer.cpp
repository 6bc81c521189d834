// Test helper: records burns into the given history file as fast as it can
// until it is killed. Prints "ready" once the first row is stored.

#include "history_database.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    HistoryDatabase db(QString::fromLocal8Bit(argv[1]));
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
