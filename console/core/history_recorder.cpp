#include "history_recorder.h"

#include "history_database.h"
#include "history_syncer.h"

#include <QDebug>
#include <QTimer>

HistoryRecorder::HistoryRecorder(HistoryDatabase *database, QObject *parent)
    : QObject(parent), m_database(database),
      m_journal(database->fileName() + QStringLiteral(".pending")),
      m_syncer(new HistorySyncer(database->fileName(), this)), m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryMs);
    connect(m_retry, &QTimer::timeout, this, &HistoryRecorder::drain);
    const QList<HistoryRecord> kept = m_journal.load();
    for (const HistoryRecord &record : kept)
        m_pending.append({record, true});
    if (!kept.isEmpty()) {
        qWarning() << kept.size() << "burn records wait in" << m_journal.path();
        drain();
    }
    updateNotice();
}

bool HistoryRecorder::record(HistoryRecord *record)
{
    if (m_pending.isEmpty()) {
        const qint64 begin = record->beginTime.toSecsSinceEpoch();
        record->id = m_database->insertHistory(record->usbPort, record->imageFile, begin,
                                               record->usedSeconds, record->result == 1);
        if (record->id >= 0)
            return true;
        keep(*record);
        m_retry->start();
        updateNotice();
        return m_pending.last().kept;
    }
    // Behind the rows kept before it, so the database gets them in order.
    keep(*record);
    const bool kept = m_pending.last().kept;
    drain();
    return kept;
}

void HistoryRecorder::whenOnDisk(std::function<void()> then)
{
    m_syncer->whenOnDisk(std::move(then));
}

void HistoryRecorder::keep(const HistoryRecord &record)
{
    m_pending.append({record, m_journal.append(record)});
}

bool HistoryRecorder::drain()
{
    if (m_pending.isEmpty())
        return true;
    // A file that was read-only or damaged is looked at afresh; a lock passes by itself.
    if (!m_database->isOpen() || !m_database->lastErrorIsBusy())
        m_database->reopen();
    QList<HistoryRecord> rows;
    for (const Pending &pending : qAsConst(m_pending))
        rows.append(pending.record);
    if (m_database->insertMissing(rows)) {
        // The journal goes only once its rows are on the disk in the log. A
        // journal that cannot go is replayed at the next start; the rows it
        // holds are found stored then and skipped.
        if (HistoryDatabase::syncLogToDisk(m_database->fileName()))
            m_journal.clear();
        const QList<Pending> stored = m_pending;
        m_pending.clear();
        m_retry->stop();
        qDebug() << "Stored" << stored.size() << "burn records kept aside";
        for (const Pending &pending : stored) {
            if (!pending.kept)
                emit recordKeptLater(pending.record);
        }
        updateNotice();
        emit drained();
        return true;
    }
    // Rows held only in memory go to the journal as soon as it takes them.
    bool inMemory = false;
    for (const Pending &pending : qAsConst(m_pending))
        inMemory = inMemory || !pending.kept;
    if (inMemory && m_journal.rewrite(rows)) {
        for (Pending &pending : m_pending) {
            if (!pending.kept) {
                pending.kept = true;
                emit recordKeptLater(pending.record);
            }
        }
    }
    m_retry->start();
    updateNotice();
    return false;
}

void HistoryRecorder::updateNotice()
{
    QStringList parts;
    if (!m_database->setAsidePath().isEmpty())
        parts << QStringLiteral("历史数据库已损坏，已移至 %1 并新建数据库")
                     .arg(m_database->setAsidePath());
    int inMemory = 0;
    for (const Pending &pending : qAsConst(m_pending))
        inMemory += pending.kept ? 0 : 1;
    if (!m_pending.isEmpty()) {
        QString text = QStringLiteral("烧写记录无法存入历史数据库（%1），%2 条记录已暂存，数据库恢复后自动补存")
                           .arg(m_database->lastError())
                           .arg(m_pending.size() - inMemory);
        if (inMemory > 0)
            text += QStringLiteral("；暂存文件也无法写入（%1），%2 条记录仅在内存中，请勿关闭程序")
                        .arg(m_journal.errorString())
                        .arg(inMemory);
        parts << text;
    }
    const QString notice = parts.join(QStringLiteral("；"));
    if (notice == m_notice)
        return;
    m_notice = notice;
    emit noticeChanged(m_notice);
}
