// What the console demo shows of a console running beside it:
//   console_probe screenshot FILE   the whole screen of $DISPLAY as a PNG
//   console_probe summary [DIR]     one line per slot from DIR's data.db and
//                                   Veldmark.ini (default: the current folder);
//                                   exit status 0 when every burn succeeded
//   console_probe count [DIR]       number of burns recorded in DIR's data.db
#include "settings_store.h"

#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QMap>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTextStream>

namespace {

struct Burn {
    QString port;
    QString image;
    qint64 begin = 0;
    int seconds = 0;
    bool success = false;
};

QList<Burn> burnsIn(const QDir &dir)
{
    QList<Burn> burns;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(dir.filePath(QStringLiteral("data.db")));
    if (!db.open())
        return burns;
    QSqlQuery query(QStringLiteral("SELECT usb_port, image_file, begin_time, used_seconds, "
                                   "burn_result FROM T_HISTORY ORDER BY begin_time, id"),
                    db);
    while (query.next())
        burns.append({query.value(0).toString(), query.value(1).toString(),
                      query.value(2).toLongLong(), query.value(3).toInt(),
                      query.value(4).toInt() == 1});
    return burns;
}

int summary(const QDir &dir)
{
    QSettings ini(dir.filePath(QStringLiteral("Veldmark.ini")), QSettings::IniFormat);
    const PortMapping map =
        SettingsStore::parsePortMapping(ini.value(QStringLiteral("common/port_mapping")).toString());
    QMap<int, QList<Burn>> bySlot;
    for (const Burn &burn : burnsIn(dir))
        bySlot[map.value(burn.port, -1)].append(burn);

    QTextStream out(stdout);
    out << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
               .arg(QStringLiteral("slot"), -6)
               .arg(QStringLiteral("port"), -8)
               .arg(QStringLiteral("result"), -10)
               .arg(QStringLiteral("started"), -20)
               .arg(QStringLiteral("seconds"), 8)
               .arg(QStringLiteral("image"));
    bool allGood = !bySlot.isEmpty();
    for (auto it = bySlot.cbegin(); it != bySlot.cend(); ++it) {
        for (const Burn &burn : it.value()) {
            allGood &= burn.success;
            const QString slot = it.key() < 0 ? QStringLiteral("?")
                                              : QStringLiteral("%1").arg(it.key() + 1, 2, 10,
                                                                         QLatin1Char('0'));
            out << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                       .arg(slot, -6)
                       .arg(burn.port, -8)
                       .arg(burn.success ? QStringLiteral("succeeded") : QStringLiteral("FAILED"),
                            -10)
                       .arg(QDateTime::fromSecsSinceEpoch(burn.begin)
                                .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
                            -20)
                       .arg(burn.seconds, 8)
                       .arg(burn.image);
        }
    }
    QSettings counters(dir.filePath(QStringLiteral("Veldmark.ini")), QSettings::IniFormat);
    out << "counters: total " << counters.value(QStringLiteral("statistic/total_count")).toInt()
        << ", succeeded " << counters.value(QStringLiteral("statistic/success_count")).toInt()
        << ", failed " << counters.value(QStringLiteral("statistic/fail_count")).toInt() << "\n";
    return allGood ? 0 : 1;
}

int screenshot(const QString &file)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(file, "PNG")) {
        QTextStream(stderr) << "console_probe: cannot grab the screen into " << file << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    const QString command = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QString argument = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (command == QLatin1String("screenshot") && !argument.isEmpty()) {
        QGuiApplication app(argc, argv);
        return screenshot(argument);
    }
    QCoreApplication app(argc, argv);
    const QDir dir(argument.isEmpty() ? QDir::currentPath() : argument);
    if (command == QLatin1String("summary"))
        return summary(dir);
    if (command == QLatin1String("count")) {
        QTextStream(stdout) << burnsIn(dir).size() << "\n";
        return 0;
    }
    QTextStream(stderr) << "usage: console_probe screenshot FILE | summary [DIR] | count [DIR]\n";
    return 2;
}
