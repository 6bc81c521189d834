#include "farm_harness.h"

#include "report_protocol.h"
#include "vboard_host.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

namespace {
QProcessEnvironment workerEnvironment(const QString &socket, const QString &runtime)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZEL_VBOARD_FARM"), socket);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    const QString previous = env.value(QStringLiteral("LD_LIBRARY_PATH"));
    env.insert(QStringLiteral("LD_LIBRARY_PATH"),
               QStringLiteral(VUSB_DIR) + (previous.isEmpty() ? QString() : QLatin1Char(':') + previous));
    return env;
}
}  // namespace

void FarmTest::SetUp()
{
    ASSERT_TRUE(m_work.isValid());
    ASSERT_TRUE(m_runtime.isValid());
    QFile::setPermissions(m_runtime.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_previousRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    m_socket = m_runtime.filePath(QStringLiteral("farm.sock"));
}

void FarmTest::TearDown()
{
    if (m_farmRunning)
        farm("stop");
    qputenv("XDG_RUNTIME_DIR", m_previousRuntime);
}

void FarmTest::startFarm(const QStringList &args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(VBOARD_FARM),
                  QStringList{QStringLiteral("start"), QStringLiteral("--socket"), m_socket} + args);
    ASSERT_TRUE(process.waitForFinished(20000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
    m_farmRunning = true;
}

std::string FarmTest::farm(const std::string &line)
{
    std::string reply;
    vboard::farmCommand(m_socket.toStdString(), line, &reply);
    return reply;
}

std::vector<BoardFwc> FarmTest::boardFwcs(const QString &position)
{
    std::vector<BoardFwc> fwcs;
    const QString reply = QString::fromStdString(farm("received " + position.toStdString()));
    const QRegularExpression line(QStringLiteral(
        "^  fwc \"([^\"]*)\".* size=(\\d+) received=(\\d+) crc=0x([0-9a-fA-F]+)(.*)$"),
        QRegularExpression::MultilineOption);
    auto it = line.globalMatch(reply);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        BoardFwc fwc;
        fwc.name = m.captured(1).toStdString();
        fwc.size = m.captured(2).toUInt();
        fwc.received = m.captured(3).toULongLong();
        fwc.crc = m.captured(4).toUInt(nullptr, 16);
        fwc.complete = m.captured(5).contains(QStringLiteral(" complete"));
        const int entryAt = m.captured(5).indexOf(QStringLiteral(" entry="));
        if (entryAt >= 0) {
            const QByteArray bytes = QByteArray::fromHex(m.captured(5).mid(entryAt + 7).toLatin1());
            fwc.entry.assign(bytes.begin(), bytes.end());
        }
        fwcs.push_back(fwc);
    }
    return fwcs;
}

QString FarmTest::writeImage(const zelimg::ImageDesc &desc, const QString &name)
{
    const QString path = m_work.filePath(name);
    std::string error;
    EXPECT_TRUE(zelimg::writeImage(desc, path.toStdString(), &error)) << error;
    return path;
}

WorkerRun FarmTest::runWorker(int slot, const QString &imagePath, const QString &position,
                              const QString &logName)
{
    const QByteArray encoded = imagePath.toUtf8().toPercentEncoding();
    return runWorkerWith({QStringLiteral("-i"), QString::number(slot), QStringLiteral("-f"),
                          QString::fromLatin1(encoded), QStringLiteral("-d"), position,
                          QStringLiteral("-t"), logName});
}

WorkerRun FarmTest::runWorkerWith(const QStringList &args, const QString &workDir, qint64 limitMs)
{
    WorkerRun run;
    std::unique_ptr<ReportReceiver> receiver;
    if (m_listening) {
        receiver = std::make_unique<ReportReceiver>(consoleWindowTitle());
        EXPECT_TRUE(receiver->listen());
        QObject::connect(receiver.get(), &ReportReceiver::reportReceived,
                         [&run, this](quint32 kind, const QByteArray &payload) {
                             if (kind == ReportTrace) {
                                 const DecodedTrace t = decodeTracePayload(payload.constData(), payload.size());
                                 run.traces.push_back({t.slotIndex, t.bytes, run.reports.size()});
                                 return;
                             }
                             if (m_beforeFirstReport) {
                                 m_beforeFirstReport();
                                 m_beforeFirstReport = nullptr;
                             }
                             const DecodedReport d = decodeReportPayload(payload.constData(), payload.size());
                             if (!d.valid)
                                 return;
                             const ReceivedReport report{static_cast<int>(kind), d.slotIndex,
                                                         static_cast<qint64>(d.value)};
                             if (m_whileHandling)
                                 m_whileHandling(report);
                             run.reports.push_back(report);
                         });
    }

    QProcess worker;
    worker.setWorkingDirectory(workDir.isEmpty() ? m_work.path() : workDir);
    worker.setProcessEnvironment(workerEnvironment(m_socket, m_runtime.path()));
    worker.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    worker.start(QStringLiteral(ZELBURNER), args);
    EXPECT_TRUE(worker.waitForStarted(10000));
    m_workerPid = worker.processId();
    // The worker waits for each report to be handled: keep the loop turning.
    while (worker.state() != QProcess::NotRunning && clock.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        worker.waitForFinished(5);
    }
    QCoreApplication::processEvents();
    run.elapsedMs = clock.elapsed();
    if (worker.state() != QProcess::NotRunning) {
        worker.kill();
        worker.waitForFinished();
        ADD_FAILURE() << "worker did not finish";
    }
    run.exitCode = worker.exitStatus() == QProcess::NormalExit ? worker.exitCode() : -1;
    run.output = worker.readAll();
    return run;
}

QString FarmTest::workerLog(const QString &position, const QString &logName) const
{
    QString dir = position;
    dir.replace(QLatin1Char(':'), QLatin1Char('#'));
    QFile file(m_work.filePath(QStringLiteral("log/%1/%2/%3.log")
                                   .arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")), dir, logName)));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

std::vector<ReceivedReport> ofKind(const std::vector<ReceivedReport> &reports, int kind)
{
    std::vector<ReceivedReport> out;
    for (const ReceivedReport &r : reports)
        if (r.kind == kind)
            out.push_back(r);
    return out;
}

std::vector<uint8_t> patternBytes(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = 0x9e3779b9u * (seed + 1u);
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[i] = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

zelimg::Component component(const std::string &name, const std::string &partition, uint32_t ram,
                            const std::string &attributes, std::vector<uint8_t> bytes)
{
    zelimg::Component c;
    c.name = name;
    c.partition = partition;
    c.ram = ram;
    c.attributes = attributes;
    c.bytes = std::move(bytes);
    return c;
}

zelimg::ImageDesc emptyImage()
{
    zelimg::ImageDesc desc;
    desc.platform = "zk3308";
    desc.product = "e2e";
    desc.version = "1.0";
    desc.mediaType = "emmc";
    desc.mediaId = "mmc0";
    return desc;
}
