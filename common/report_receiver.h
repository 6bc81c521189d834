#pragma once
// The console's receiving end of worker reports: listens under the console's
// window title while it exists and hands every report, as sent, to whoever
// handles it. The worker waits until the handler has returned.

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

class ReportReceiver : public QObject
{
    Q_OBJECT
public:
    explicit ReportReceiver(const QString &windowTitle, QObject *parent = nullptr);
    ~ReportReceiver() override;

    // False when another receiver already listens under this title or the
    // socket cannot be created.
    bool listen();
    bool isListening() const { return m_fd >= 0; }

signals:
    // kind and the payload bytes exactly as sent (not decoded).
    void reportReceived(quint32 kind, const QByteArray &payload);

private:
    void acceptPending();
    void stop();

    QString m_title;
    QByteArray m_path;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
