#pragma once
// The console's receiving end of worker reports: listens under the console's
// window title while it exists and hands every report, as sent and with the
// process that sent it, to whoever handles it. The worker waits until the
// handler has returned. A sender may keep its connection for further
// reports. Connections are read as their bytes come, never blocking the
// thread; a connection that does not send a record it owes (its first, or
// the rest of one begun) within its deadline is dropped.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <map>
#include <memory>

class QSocketNotifier;

class ReportReceiver : public QObject
{
    Q_OBJECT
public:
    explicit ReportReceiver(const QString &windowTitle, QObject *parent = nullptr);
    ~ReportReceiver() override;

    // False when another receiver already listens under this title or the
    // socket cannot be set up; errorString() then says why. Only one
    // receiver per title gets it, however many try at once.
    bool listen();
    bool isListening() const { return m_fd >= 0; }
    QString errorString() const { return m_error; }
    // Handles at once every report that has reached the socket, so that
    // what a worker sent is known before its end is acted on.
    void readPending();

signals:
    // kind and the payload bytes exactly as sent (not decoded); senderPid:
    // the process that connected, as the kernel tells it.
    void reportReceived(quint32 kind, const QByteArray &payload, qint64 senderPid);

private:
    struct Connection;

    void acceptPending();
    // Reads what the sender left on its connections older than beforeId.
    void readEarlierFrom(qint64 senderPid, quint64 beforeId);
    // Reads what has come; true while a record is owed (the first, or one
    // begun). Every whole record is handed on and answered; the connection
    // ends when its sender closes it.
    bool readFrom(Connection *connection);
    // Whether a record is owed now (see readFrom); starts the deadline of one begun.
    bool owesRecord(Connection *connection);
    // Hands the connection's whole record on and answers it; false when the
    // handler ended the connection.
    bool handOn(Connection *connection);
    void drop(Connection *connection);
    void stop();

    QString m_title;
    QByteArray m_path;
    QString m_error;
    int m_fd = -1;
    int m_lockFd = -1;  // held while listening: the title is ours
    QSocketNotifier *m_notifier = nullptr;
    std::map<quint64, std::unique_ptr<Connection>> m_connections;  // by id, in accept order
    quint64 m_lastConnectionId = 0;
};
