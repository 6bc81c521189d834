#include "history_syncer.h"

#include "file_sync.h"
#include "history_database.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace
{

// A checkpoint at most this often: each one makes the next commit on the GUI
// thread sync the log's header once.
constexpr qint64 kCheckpointMs = 5000;

// Syncs the log and, once, the folder that holds it.
class LogSync
{
public:
    explicit LogSync(const QString &databaseFile) : m_databaseFile(databaseFile) {}

    bool operator()()
    {
        if (!HistoryDatabase::syncLogToDisk(m_databaseFile))
            return false;
        if (!m_folderSynced)
            m_folderSynced = syncFolderOf(m_databaseFile);
        return true;
    }

private:
    QString m_databaseFile;
    bool m_folderSynced = false;
};

// Lives on the syncing thread.
class SyncWorker : public QObject
{
public:
    SyncWorker(HistorySyncer::SyncFunction sync, QString databaseFile)
        : m_sync(std::move(sync)), m_databaseFile(std::move(databaseFile))
    {
        m_sinceCheckpoint.start();
    }

    // The ticket synced now, or 0 when every requested one is synced already.
    quint64 sync(quint64 requested, bool *ok)
    {
        if (requested <= m_done)
            return 0;
        *ok = m_sync();
        m_done = requested;
        return requested;
    }

    void checkpointNowAndThen()
    {
        if (m_databaseFile.isEmpty() || m_sinceCheckpoint.elapsed() < kCheckpointMs)
            return;
        m_sinceCheckpoint.restart();
        // A connection per checkpoint: a damaged file moved aside is not the
        // one to checkpoint into, and no empty file is made where none is.
        if (!QFileInfo::exists(m_databaseFile))
            return;
        const QString name = QStringLiteral("history_checkpoint_%1").arg(quintptr(this));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(m_databaseFile);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
            QSqlQuery query(db);
            // Passive: it never waits for, nor blocks, the console's writes.
            if (db.open() && !query.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)")))
                qWarning() << "History checkpoint failed:" << query.lastError();
        }
        QSqlDatabase::removeDatabase(name);
    }

private:
    HistorySyncer::SyncFunction m_sync;
    QString m_databaseFile;
    quint64 m_done = 0;
    QElapsedTimer m_sinceCheckpoint;
};

} // namespace

HistorySyncer::HistorySyncer(const QString &databaseFile, QObject *parent) : QObject(parent)
{
    start(LogSync(databaseFile), databaseFile);
}

HistorySyncer::HistorySyncer(SyncFunction sync, QObject *parent) : QObject(parent)
{
    start(std::move(sync), QString());
}

void HistorySyncer::start(SyncFunction sync, const QString &databaseFile)
{
    m_thread.setObjectName(QStringLiteral("history sync"));
    m_worker = new SyncWorker(std::move(sync), databaseFile);
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

HistorySyncer::~HistorySyncer()
{
    // The worker's checkpoint connection belongs to its thread: it goes there.
    QObject *worker = m_worker;
    QMetaObject::invokeMethod(worker, [worker] { delete worker; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void HistorySyncer::whenOnDisk(std::function<void()> then)
{
    const quint64 ticket = ++m_written;
    m_waiting.push_back({ticket, std::move(then)});
    m_requested.store(ticket);
    auto *worker = static_cast<SyncWorker *>(m_worker);
    QMetaObject::invokeMethod(worker, [this, worker] {
        bool ok = true;
        // Requests queued meanwhile are covered by this one sync.
        const quint64 synced = worker->sync(m_requested.load(), &ok);
        if (synced == 0)
            return;
        QMetaObject::invokeMethod(
            this, [this, synced, ok] { onSynced(synced, ok); }, Qt::QueuedConnection);
        worker->checkpointNowAndThen();
    });
}

void HistorySyncer::onSynced(quint64 upTo, bool ok)
{
    if (!ok)
        qCritical() << "Burn records are committed but may not survive a power cut";
    while (!m_waiting.empty() && m_waiting.front().ticket <= upTo) {
        const std::function<void()> then = std::move(m_waiting.front().then);
        m_waiting.pop_front();
        then();
    }
}
