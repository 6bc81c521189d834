#include "tst_version_tool.h"

#include "modal_answerer.h"
#include "zel_version_tool.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QWidget>

CannedHttpServer::CannedHttpServer()
{
    connect(this, &QTcpServer::newConnection, this, &CannedHttpServer::answer);
    listen(QHostAddress::LocalHost);
}

void CannedHttpServer::setResponse(int status, const QByteArray &body)
{
    m_response = "HTTP/1.1 " + QByteArray::number(status) +
                 " X\r\nContent-Type: application/json\r\n"
                 "Content-Length: " +
                 QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

void CannedHttpServer::answer()
{
    QTcpSocket *socket = nextPendingConnection();
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
        if (!socket->canReadLine())
            return;
        m_requestLine = socket->readLine().trimmed();
        socket->write(m_response);
        socket->disconnectFromHost();
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

struct CheckResult {
    ZelVersionTool::Outcome outcome;
    QString signalledMessage;
    QString alertText;
};

static CheckResult runCheck(const QUrl &service)
{
    QWidget window;
    ZelVersionTool tool(&window);
    tool.setServiceUrl(service);
    tool.setAppId(2);
    tool.setCurVersion(0, 1, 8);
    QSignalSpy finished(&tool, &ZelVersionTool::checkFinished);
    ModalAnswerer answer(QStringLiteral("ok_btn"));
    tool.checkLastVersion();
    if (!finished.wait(15000))
        return {ZelVersionTool::InvalidReply, QStringLiteral("no answer"), QString()};
    return {finished.first().at(0).value<ZelVersionTool::Outcome>(),
            finished.first().at(1).toString(), answer.text()};
}

void TestVersionTool::reportsTheComparisonWithTheLatestRelease_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("newer patch") << 200 << QByteArray(R"({"version_no":"0.1.9"})")
                                 << int(ZelVersionTool::NewerAvailable) << QStringLiteral("v0.1.9");
    QTest::newRow("newer minor, numeric order")
        << 200 << QByteArray(R"({"version_no":"0.10.0"})") << int(ZelVersionTool::NewerAvailable)
        << QStringLiteral("v0.10.0");
    QTest::newRow("download address")
        << 200 << QByteArray(R"({"version_no":"1.0.0","download_url":"http://x/y.zip"})")
        << int(ZelVersionTool::NewerAvailable) << QStringLiteral("http://x/y.zip");
    QTest::newRow("same") << 200 << QByteArray(R"({"version_no":"0.1.8"})")
                          << int(ZelVersionTool::UpToDate) << QStringLiteral("最新版本");
    QTest::newRow("older") << 200 << QByteArray(R"({"version_no":"0.1.7"})")
                           << int(ZelVersionTool::UpToDate) << QStringLiteral("最新版本");
    QTest::newRow("not json") << 200 << QByteArray("<html>") << int(ZelVersionTool::InvalidReply)
                              << QStringLiteral("无效");
    QTest::newRow("garbage version") << 200 << QByteArray(R"({"version_no":"0.1.9-beta"})")
                                     << int(ZelVersionTool::InvalidReply) << QStringLiteral("无效");
    QTest::newRow("server error") << 500 << QByteArray(R"({"version_no":"9.9.9"})")
                                  << int(ZelVersionTool::InvalidReply) << QStringLiteral("无效");
}

void TestVersionTool::reportsTheComparisonWithTheLatestRelease()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, outcome);
    QFETCH(QString, mentions);

    CannedHttpServer server;
    QVERIFY(server.isListening());
    server.setResponse(status, body);
    const CheckResult result = runCheck(
        QUrl(QStringLiteral("http://127.0.0.1:%1/api/last_version").arg(server.serverPort())));
    QCOMPARE(int(result.outcome), outcome);
    QVERIFY2(result.alertText.contains(mentions), qPrintable(result.alertText));
    QCOMPARE(result.alertText, result.signalledMessage);
}

void TestVersionTool::asksForItsApplicationId()
{
    CannedHttpServer server;
    server.setResponse(200, R"({"version_no":"0.1.8"})");
    runCheck(QUrl(QStringLiteral("http://127.0.0.1:%1/api/last_version").arg(server.serverPort())));
    QCOMPARE(server.lastRequestLine(), QByteArray("GET /api/last_version?app_id=2 HTTP/1.1"));
}

void TestVersionTool::reportsAnUnreachableService()
{
    // A port that was just free: nothing listens there.
    quint16 port;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    const CheckResult result =
        runCheck(QUrl(QStringLiteral("http://127.0.0.1:%1/api/last_version").arg(port)));
    QCOMPARE(result.outcome, ZelVersionTool::Unreachable);
    QVERIFY2(result.alertText.contains(QStringLiteral("无法连接")), qPrintable(result.alertText));
}

void TestVersionTool::defaultServiceIsUnreachableHere()
{
    // The built-in service host is under the reserved .invalid domain: this
    // machine has no network, and the operator must get a clear answer.
    const CheckResult result = runCheck(ZelVersionTool::defaultServiceUrl());
    QCOMPARE(result.outcome, ZelVersionTool::Unreachable);
    QVERIFY(result.alertText.contains(QStringLiteral("无法连接")));
}
