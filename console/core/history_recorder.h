#pragma once
// Records every finished burn, also while the history database refuses rows
// (locked by another program, read-only, disk full, damaged): a refused row is
// pushed to the journal beside the database before the caller shows the
// result, and the kept rows go into the database in order and once as soon as
// it takes rows again: at the next result, on a retry timer, or at the next
// start. While rows are kept, notice() says why in the operator's words.

#include "history_journal.h"
#include "history_record.h"

#include <QList>
#include <QObject>

#include <functional>

class HistoryDatabase;
class HistorySyncer;
class QTimer;

class HistoryRecorder : public QObject
{
    Q_OBJECT
public:
    static constexpr int kRetryMs = 5000;

    // The journal lies beside the database file, named after it with ".pending".
    // Rows a previous run kept are stored at once.
    explicit HistoryRecorder(HistoryDatabase *database, QObject *parent = nullptr);

    // Records one burn. True when it is kept for good now (database or
    // journal); record->id is set when the database took it. False when even
    // the journal refused it: it is then held in memory, retried, and
    // recordKeptLater tells when it is kept.
    bool record(HistoryRecord *record);
    // Runs then once the rows recorded so far would survive a power cut: the
    // database commits them without waiting for the disk.
    void whenOnDisk(std::function<void()> then);
    // Tries to store the kept rows now; true when none is left.
    bool drain();
    int pendingCount() const { return m_pending.size(); }
    QString journalPath() const { return m_journal.path(); }
    // Empty while every row is stored and the database was sound at start.
    QString notice() const { return m_notice; }

signals:
    void noticeChanged(const QString &notice);
    // A row held only in memory is kept for good now.
    void recordKeptLater(const HistoryRecord &record);
    // Rows kept aside have all reached the database.
    void drained();

private:
    struct Pending {
        HistoryRecord record;
        bool kept;
    };
    void keep(const HistoryRecord &record);
    void updateNotice();

    HistoryDatabase *m_database;
    HistoryJournal m_journal;
    HistorySyncer *m_syncer;
    QList<Pending> m_pending;
    QTimer *m_retry;
    QString m_notice;
};
