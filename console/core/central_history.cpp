#include "central_history.h"

#include "central_link.h"
#include "trace_store.h"

#include <QDebug>
#include <QMetaObject>
#include <QTimer>

#include <climits>

namespace
{
// Rows per transaction: a backlog after an outage goes in few round trips,
// and the GUI learns of progress between batches.
constexpr int kBatchRows = 200;
constexpr int kFirstRetryMs = 500;
constexpr int kLongestRetryMs = 30000;
} // namespace

CentralHistory::CentralHistory(TraceStore *store, const QString &url, QObject *parent)
    : QObject(parent), m_store(store)
{
    qRegisterMetaType<QList<BurnTrace>>("QList<BurnTrace>");
    qRegisterMetaType<QVector<qint64>>("QVector<qint64>");
    if (url.isEmpty() || !m_store || !m_store->isReady())
        return;
    m_thread.setObjectName(QStringLiteral("central history"));
    m_shipper = new CentralShipper(url, m_store->storeId());
    m_shipper->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_shipper, &QObject::deleteLater);
    connect(m_shipper, &CentralShipper::shipped, this, &CentralHistory::onShipped);
    connect(m_shipper, &CentralShipper::sending, this, &CentralHistory::onSending);
    connect(m_shipper, &CentralShipper::failed, this, &CentralHistory::onFailed);
    m_thread.start();
    m_state = Waiting;
    qInfo() << "Central history on; unshipped burns:" << m_store->unshippedCount();
    // A build that cannot ship says so from the start, not at the first burn.
    const QString unsupported = CentralLink::unsupportedReason();
    if (!unsupported.isEmpty())
        onFailed(unsupported);
    pickUp();
}

CentralHistory::~CentralHistory()
{
    if (!m_shipper)
        return;
    m_thread.requestInterruption();
    m_shipper->cancel();
    m_thread.quit();
    m_thread.wait();
}

void CentralHistory::pickUp()
{
    if (!m_shipper)
        return;
    const QList<BurnTrace> rows = m_store->unshipped(m_lastHandedOver, INT_MAX);
    if (rows.isEmpty())
        return;
    m_lastHandedOver = rows.last().localId;
    m_waiting += rows.size();
    QMetaObject::invokeMethod(m_shipper, "enqueue", Qt::QueuedConnection,
                              Q_ARG(QList<BurnTrace>, rows));
    if (m_state != Shipping && m_state != Error)
        setState(Waiting);
    else
        emit stateChanged();
}

void CentralHistory::onShipped(const QVector<qint64> &localIds)
{
    m_store->markShipped(localIds);
    m_waiting -= localIds.size();
    m_error.clear();
    setState(m_waiting > 0 ? Shipping : Waiting);
}

void CentralHistory::onSending()
{
    setState(m_state == Error ? Error : Shipping);
}

void CentralHistory::onFailed(const QString &error)
{
    if (error != m_error)
        qWarning() << "Central history:" << error << "; burns waiting:" << m_waiting;
    m_error = error;
    setState(Error);
}

void CentralHistory::setState(State state)
{
    m_state = state;
    emit stateChanged();
}

QString CentralHistory::stateText() const
{
    switch (m_state) {
    case Off:
        return QStringLiteral("中央历史：未启用");
    case Shipping:
        return QStringLiteral("中央历史：正在发送（%1 条待发送）").arg(m_waiting);
    case Waiting:
        return QStringLiteral("中央历史：%1 条待发送").arg(m_waiting);
    case Error:
        return QStringLiteral("中央历史：%1（%2 条待发送）").arg(m_error).arg(m_waiting);
    }
    return QString();
}

CentralShipper::CentralShipper(const QString &url, const QString &storeId)
    : m_link(new CentralLink(url)), m_storeId(storeId), m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &CentralShipper::sendNext);
}

CentralShipper::~CentralShipper()
{
    delete m_link;
}

void CentralShipper::cancel()
{
    m_link->cancel();
}

void CentralShipper::enqueue(const QList<BurnTrace> &rows)
{
    // A non-empty queue is already being sent or waits for its retry.
    const bool idle = m_queue.isEmpty();
    m_queue.append(rows);
    if (idle)
        sendNext();
}

void CentralShipper::sendNext()
{
    if (m_queue.isEmpty() || QThread::currentThread()->isInterruptionRequested())
        return;
    emit sending();
    const QList<BurnTrace> batch = m_queue.mid(0, kBatchRows);
    if (!m_link->ship(batch, m_storeId)) {
        emit failed(m_link->error());
        retryLater();
        return;
    }
    m_retryMs = 0;
    m_queue.erase(m_queue.begin(), m_queue.begin() + batch.size());
    QVector<qint64> ids;
    ids.reserve(batch.size());
    for (const BurnTrace &row : batch)
        ids.append(row.localId);
    emit shipped(ids);
    // Through the event loop: a quit asked meanwhile is seen between batches.
    if (!m_queue.isEmpty())
        QTimer::singleShot(0, this, &CentralShipper::sendNext);
}

void CentralShipper::retryLater()
{
    m_retryMs = m_retryMs == 0 ? kFirstRetryMs : qMin(m_retryMs * 2, kLongestRetryMs);
    m_retry->start(m_retryMs);
}
