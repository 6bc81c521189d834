#include "burn_counters.h"

#include "settings_store.h"

#include <QDebug>
#include <QMutex>
#include <QSettings>

namespace
{

// Lives on the counters' thread, with a settings object of its own over the
// same file: Qt shares the file's contents between the two, so the console's
// other settings and these counters are written together and never undone.
class CounterWriter : public QObject
{
public:
    void setLatest(const BurnCounters::Counts &counts)
    {
        QMutexLocker lock(&m_mutex);
        m_latest = counts;
        ++m_version;
    }

    // Writes the latest counts once, however many writes were asked for meanwhile.
    bool writeLatest()
    {
        BurnCounters::Counts counts;
        {
            QMutexLocker lock(&m_mutex);
            if (m_version == m_written)
                return m_lastWriteOk;
            counts = m_latest;
            m_written = m_version;
        }
        if (!m_settings) {
            m_settings = SettingsStore::openFile();
            m_settings->setParent(this);
        }
        m_settings->setValue(QStringLiteral("statistic/total_count"), QString::number(counts.total));
        m_settings->setValue(QStringLiteral("statistic/success_count"),
                             QString::number(counts.succeeded));
        m_settings->setValue(QStringLiteral("statistic/fail_count"), QString::number(counts.failed));
        m_settings->sync();
        m_lastWriteOk = m_settings->status() != QSettings::AccessError;
        if (!m_lastWriteOk) {
            qCritical() << "Failed to write the burn counters to" << m_settings->fileName();
            // A fresh object tries the file afresh next time: QSettings keeps its first error.
            delete m_settings;
            m_settings = nullptr;
        }
        return m_lastWriteOk;
    }

private:
    QMutex m_mutex;
    BurnCounters::Counts m_latest;
    quint64 m_version = 0;
    quint64 m_written = 0;
    bool m_lastWriteOk = true;
    QSettings *m_settings = nullptr;
};

} // namespace

BurnCounters::BurnCounters(QObject *parent) : QObject(parent)
{
    const SettingsStore *store = SettingsStore::instance();
    m_counts = {store->totalCount(), store->successCount(), store->failCount()};
    m_thread.setObjectName(QStringLiteral("burn counters"));
    m_writer = new CounterWriter;
    m_writer->moveToThread(&m_thread);
    m_thread.start();
}

BurnCounters::~BurnCounters()
{
    flush();
    QObject *writer = m_writer;
    QMetaObject::invokeMethod(writer, [writer] { delete writer; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void BurnCounters::count(bool success)
{
    ++m_counts.total;
    ++(success ? m_counts.succeeded : m_counts.failed);
    requestWrite();
}

void BurnCounters::requestWrite()
{
    auto *writer = static_cast<CounterWriter *>(m_writer);
    writer->setLatest(m_counts);
    QMetaObject::invokeMethod(writer, [writer] { writer->writeLatest(); }, Qt::QueuedConnection);
}

bool BurnCounters::reset()
{
    m_counts = Counts();
    auto *writer = static_cast<CounterWriter *>(m_writer);
    writer->setLatest(m_counts);
    bool written = false;
    QMetaObject::invokeMethod(
        writer, [writer, &written] { written = writer->writeLatest(); },
        Qt::BlockingQueuedConnection);
    return written;
}

void BurnCounters::flush()
{
    auto *writer = static_cast<CounterWriter *>(m_writer);
    QMetaObject::invokeMethod(writer, [writer] { writer->writeLatest(); },
                              Qt::BlockingQueuedConnection);
}
