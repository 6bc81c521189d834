// zelreport: listens for worker reports under the console's window title, as
// the console does, and prints each one as a line: slot, kind name, value.
// For headless runs, demos and tests.

#include "report_protocol.h"
#include "report_receiver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QThread>

#include <csignal>
#include <cstdio>

namespace {
const char *kindName(quint32 kind)
{
    switch (kind) {
    case ReportProgress:
        return "progress";
    case ReportWaiting:
        return "waiting";
    case ReportResumed:
        return "resumed";
    case ReportResult:
        return "result";
    }
    return "unknown";
}

void quitOnSignal(int)
{
    QCoreApplication::quit();
}
}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Prints the reports workers send to the console."));
    parser.addHelpOption();
    const QCommandLineOption resultsOption(QStringLiteral("results"),
        QStringLiteral("Exit after <n> result reports."), QStringLiteral("n"));
    const QCommandLineOption delayOption(QStringLiteral("delay-ms"),
        QStringLiteral("Take <ms> to handle each report, like a busy console."), QStringLiteral("ms"));
    parser.addOption(resultsOption);
    parser.addOption(delayOption);
    parser.process(app);

    const int resultsToExit = parser.value(resultsOption).toInt();
    const unsigned long delayMs = parser.value(delayOption).toULong();

    ReportReceiver receiver(consoleWindowTitle());
    // On failure listen() has said why, on standard error here.
    if (!receiver.listen())
        return 1;
    std::signal(SIGTERM, quitOnSignal);
    std::signal(SIGINT, quitOnSignal);

    int results = 0;
    QObject::connect(&receiver, &ReportReceiver::reportReceived, [&](quint32 kind, const QByteArray &payload) {
        if (delayMs)
            QThread::msleep(delayMs);
        const DecodedReport decoded = decodeReportPayload(payload.constData(), payload.size());
        if (!decoded.valid) {
            std::printf("ignored %s payload without '#'\n", kindName(kind));
        } else {
            std::printf("slot %d %s %lld\n", decoded.slotIndex, kindName(kind),
                        static_cast<long long>(decoded.value));
        }
        std::fflush(stdout);
        if (kind == ReportResult && decoded.valid && resultsToExit > 0 && ++results >= resultsToExit)
            QCoreApplication::quit();
    });
    std::printf("listening\n");
    std::fflush(stdout);
    return app.exec();
}
