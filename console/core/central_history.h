#pragma once
// Ships every recorded burn to the central history, in order and once, from
// a thread of its own: the GUI thread only reads and marks rows of the local
// store, so a slow or absent server never holds up a burn. A console killed
// mid-send sends the unconfirmed rows again at its next start, and the
// server keeps the first copy.

#include "burn_trace.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <QVector>

class CentralShipper;
class TraceStore;

class CentralHistory : public QObject
{
    Q_OBJECT
public:
    enum State { Off, Shipping, Waiting, Error };

    // url empty: off, nothing is shipped. Otherwise shipping starts at once
    // with the rows left over from earlier runs.
    CentralHistory(TraceStore *store, const QString &url, QObject *parent = nullptr);
    // Breaks off a send in progress; its rows go at the next start.
    ~CentralHistory() override;

    State state() const { return m_state; }
    // Rows recorded here and not yet confirmed by the server.
    int waiting() const { return m_waiting; }
    // The server's last refusal while in Error.
    QString errorText() const { return m_error; }
    // One line for the burn page.
    QString stateText() const;

public slots:
    // Hands the rows recorded since the last call to the shipping thread.
    void pickUp();

signals:
    void stateChanged();

private:
    void onShipped(const QVector<qint64> &localIds);
    void onSending();
    void onFailed(const QString &error);
    void setState(State state);

    TraceStore *m_store;
    QThread m_thread;
    CentralShipper *m_shipper = nullptr;
    qint64 m_lastHandedOver = 0;
    int m_waiting = 0;
    State m_state = Off;
    QString m_error;
};

// The shipping thread's side: a queue of rows, sent in batches, retried with
// growing pauses while the server is away.
class CentralShipper : public QObject
{
    Q_OBJECT
public:
    CentralShipper(const QString &url, const QString &storeId);
    ~CentralShipper() override;
    // Any thread: breaks off the statement the server is working on.
    void cancel();

public slots:
    void enqueue(const QList<BurnTrace> &rows);

signals:
    void sending();
    void shipped(const QVector<qint64> &localIds);
    void failed(const QString &error);

private:
    void sendNext();
    void retryLater();

    class CentralLink *m_link;
    QString m_storeId;
    QList<BurnTrace> m_queue;
    class QTimer *m_retry;
    int m_retryMs = 0;
};
