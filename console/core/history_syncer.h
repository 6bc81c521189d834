#pragma once
// Pushes the history's write-ahead log onto the disk off the GUI thread, and
// runs what waits for it (a result shown as done) once every row written
// before is there: a power cut then cannot take a burn the operator saw. One
// sync covers all rows written before it starts, so a burst of results costs
// one or two syncs. Now and then it also moves the log into the database file
// (a checkpoint), so the log stays small.

#include <QObject>
#include <QThread>

#include <atomic>
#include <deque>
#include <functional>

class HistorySyncer : public QObject
{
    Q_OBJECT
public:
    // Runs on the syncing thread; false when the rows may not be on the disk.
    using SyncFunction = std::function<bool()>;

    // Syncs databaseFile's write-ahead log, and checkpoints it through a
    // connection of its own.
    explicit HistorySyncer(const QString &databaseFile, QObject *parent = nullptr);
    // sync alone says what "on the disk" means; no checkpoints.
    explicit HistorySyncer(SyncFunction sync, QObject *parent = nullptr);
    ~HistorySyncer() override;
    HistorySyncer(const HistorySyncer &) = delete;
    HistorySyncer &operator=(const HistorySyncer &) = delete;

    // Runs then on this object's thread, in call order, once what was written
    // before this call is on the disk (or a sync failed: logged, and then runs
    // anyway, since the rows are still committed).
    void whenOnDisk(std::function<void()> then);
    int waitingCount() const { return static_cast<int>(m_waiting.size()); }

private:
    struct Waiting {
        quint64 ticket;
        std::function<void()> then;
    };
    void start(SyncFunction sync, const QString &databaseFile);
    void onSynced(quint64 upTo, bool ok);

    QThread m_thread;
    QObject *m_worker = nullptr;
    std::atomic<quint64> m_requested{0};
    quint64 m_written = 0;
    std::deque<Waiting> m_waiting;
};
