#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpServer>

// A one-route HTTP server on 127.0.0.1 that answers every request with a
// canned response and remembers the request line.
class CannedHttpServer : public QTcpServer
{
    Q_OBJECT
public:
    CannedHttpServer();
    void setResponse(int status, const QByteArray &body);
    QByteArray lastRequestLine() const { return m_requestLine; }

private:
    void answer();

    QByteArray m_response;
    QByteArray m_requestLine;
};

class TestVersionTool : public QObject
{
    Q_OBJECT
private slots:
    void reportsTheComparisonWithTheLatestRelease_data();
    void reportsTheComparisonWithTheLatestRelease();
    void asksForItsApplicationId();
    void reportsAnUnreachableService();
    void defaultServiceIsUnreachableHere();
};
