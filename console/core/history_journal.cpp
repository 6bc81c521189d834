#include "history_journal.h"

#include "file_sync.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>
#include <QUrl>

static const char kVersion[] = "v1";

static QByteArray lineOf(const HistoryRecord &record)
{
    return QByteArray(kVersion) + '\t' + QByteArray::number(record.beginTime.toSecsSinceEpoch()) +
           '\t' + QByteArray::number(record.usedSeconds) + '\t' +
           QByteArray::number(record.result == 1 ? 1 : 0) + '\t' +
           QUrl::toPercentEncoding(record.usbPort) + '\t' +
           QUrl::toPercentEncoding(record.imageFile) + '\n';
}

static bool parseLine(const QByteArray &line, HistoryRecord *record)
{
    const QList<QByteArray> fields = line.split('\t');
    if (fields.size() != 6 || fields.at(0) != kVersion)
        return false;
    bool beginOk = false;
    bool usedOk = false;
    bool resultOk = false;
    const qint64 begin = fields.at(1).toLongLong(&beginOk);
    record->usedSeconds = fields.at(2).toInt(&usedOk);
    record->result = fields.at(3).toInt(&resultOk);
    record->beginTime = QDateTime::fromSecsSinceEpoch(begin);
    record->usbPort = QString::fromUtf8(QByteArray::fromPercentEncoding(fields.at(4)));
    record->imageFile = QString::fromUtf8(QByteArray::fromPercentEncoding(fields.at(5)));
    record->id = -1;
    return beginOk && usedOk && resultOk && (record->result == 0 || record->result == 1);
}

HistoryJournal::HistoryJournal(const QString &path) : m_path(path) {}

QList<HistoryRecord> HistoryJournal::load() const
{
    QList<HistoryRecord> records;
    QFile file(m_path);
    if (!file.exists())
        return records;
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical() << "Failed to read the history journal" << m_path << file.errorString();
        return records;
    }
    const QByteArray text = file.readAll();
    const QList<QByteArray> lines = text.split('\n');
    // The piece after the last line feed is empty unless a write was cut short.
    for (int i = 0; i + 1 < lines.size(); ++i) {
        HistoryRecord record;
        if (parseLine(lines.at(i), &record))
            records.append(record);
        else
            qCritical() << "History journal line" << i + 1 << "is unreadable:" << lines.at(i);
    }
    if (!lines.last().isEmpty())
        qWarning() << "History journal ends in a line cut short; skipped:" << lines.last();
    return records;
}

bool HistoryJournal::append(const HistoryRecord &record)
{
    QFile file(m_path);
    const QByteArray line = lineOf(record);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        m_error = file.errorString();
        qCritical() << "Failed to open the history journal" << m_path << m_error;
        return false;
    }
    const qint64 before = file.size();
    // Qt reports a write cut short by a full disk as done: the size tells.
    if (file.write(line) != line.size() || !syncToDisk(file) ||
        file.size() != before + line.size()) {
        m_error = file.error() == QFileDevice::NoError ? QStringLiteral("disk full")
                                                       : file.errorString();
        qCritical() << "Failed to append to the history journal" << m_path << m_error;
        // A line cut short would glue the next record onto it.
        file.resize(before);
        return false;
    }
    return true;
}

bool HistoryJournal::rewrite(const QList<HistoryRecord> &records)
{
    QByteArray text;
    for (const HistoryRecord &record : records)
        text += lineOf(record);
    QSaveFile file(m_path);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(text) == text.size() &&
                         file.flush() && file.size() == text.size();
    if (!written)
        file.cancelWriting();
    if (!written || !file.commit()) {
        m_error = file.error() == QFileDevice::NoError ? QStringLiteral("disk full")
                                                       : file.errorString();
        qCritical() << "Failed to write the history journal" << m_path << m_error;
        return false;
    }
    return true;
}

bool HistoryJournal::clear()
{
    if (!QFile::exists(m_path) || QFile::remove(m_path))
        return true;
    m_error = QStringLiteral("cannot remove %1").arg(m_path);
    qCritical() << "Failed to remove the history journal" << m_path;
    return false;
}
