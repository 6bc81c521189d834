// zelline: the line report from the central history that the stations feed.
//   zelline [--url CONNINFO] [--csv] yield [FROM [TO]]
//   zelline [--url CONNINFO] [--csv] failures [FROM [TO]]
//   zelline [--url CONNINFO] [--csv] board TRACE
// Without --url, "[central] url" of Veldmark.ini in the current folder.
#include "central_link.h"
#include "line_report.h"
#include "settings_store.h"
#include "veldmark_version.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace
{

const char kUsage[] = "usage: zelline [--url CONNINFO] [--csv] yield|failures [FROM [TO]]\n"
                      "       zelline [--url CONNINFO] [--csv] board TRACE\n"
                      "Days are yyyy-MM-dd. Without --url, [central] url of Veldmark.ini here.\n"
                      "\"zelline --help\" shows this, \"zelline --version\" the version.\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString url;
    bool csv = false;
    while (!args.isEmpty() && args.first().startsWith(QLatin1String("--"))) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (option == QLatin1String("--version")) {
            std::puts("zelline " VELDMARK_VERSION);
            return 0;
        }
        if (option == QLatin1String("--csv"))
            csv = true;
        else if (option == QLatin1String("--url") && !args.isEmpty())
            url = args.takeFirst();
        else
            return usage();
    }
    if (args.isEmpty())
        return usage();
    if (url.isEmpty())
        url = SettingsStore::instance()->value(QStringLiteral("central"), QStringLiteral("url")).trimmed();
    if (url.isEmpty()) {
        std::fputs("zelline: no central history: give --url or set [central] url in Veldmark.ini\n", stderr);
        return 2;
    }

    const QString report = args.takeFirst();
    CentralLink link(url, false);
    ReportTable table;
    bool ok = false;
    if ((report == QLatin1String("yield") || report == QLatin1String("failures")) && args.size() <= 2) {
        const QString from = args.value(0), to = args.value(1);
        ok = report == QLatin1String("yield") ? yieldReport(link, from, to, &table)
                                               : failureReport(link, from, to, &table);
    } else if (report == QLatin1String("board") && args.size() == 1) {
        ok = boardReport(link, args.first(), &table);
    } else {
        return usage();
    }
    if (!ok) {
        std::fprintf(stderr, "zelline: %s\n", link.error().toUtf8().constData());
        return 1;
    }
    const QByteArray out = csv ? asCsv(table) : asTerminalTable(table);
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    return 0;
}
