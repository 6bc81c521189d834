#include "history_day_model.h"

#include "burn_trace.h"
#include "history_database.h"
#include "trace_store.h"

#include <QColor>

#include <algorithm>

static const char kDateFormat[] = "yyyy-MM-dd";

// Newest start first; of two burns started in the same second, the later row first.
static bool comesBefore(const HistoryRecord &a, const HistoryRecord &b)
{
    const qint64 aBegin = a.beginTime.toSecsSinceEpoch();
    const qint64 bBegin = b.beginTime.toSecsSinceEpoch();
    return aBegin != bBegin ? aBegin > bBegin : a.id > b.id;
}

HistoryDayModel::HistoryDayModel(QObject *parent) : QAbstractTableModel(parent) {}

void HistoryDayModel::setDay(const QDate &date)
{
    m_day = date;
    reload();
}

void HistoryDayModel::reload()
{
    beginResetModel();
    m_rows.clear();
    m_complete = false;
    endResetModel();
    fetchMore(QModelIndex());
}

void HistoryDayModel::addRecord(const HistoryRecord &record)
{
    if (record.beginTime.date() != m_day)
        return;
    const auto at = std::lower_bound(m_rows.cbegin(), m_rows.cend(), record, comesBefore);
    const int row = static_cast<int>(at - m_rows.cbegin());
    // Beyond the rows read so far it comes with a later page.
    if (row == m_rows.size() && !m_complete)
        return;
    QList<HistoryRecord> withTrace{record};
    TraceStore::instance()->attachTraces(withTrace);
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(row, withTrace.first());
    endInsertRows();
}

int HistoryDayModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int HistoryDayModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString HistoryDayModel::cellText(const HistoryRecord &record, int column)
{
    switch (column) {
    case IdColumn:
        return QString::number(record.id);
    case PortColumn:
        return record.usbPort;
    case ImageColumn:
        return record.imageFile;
    case StartColumn:
        return record.beginTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    case UsedColumn:
        return QString::number(record.usedSeconds);
    case ResultColumn:
        return record.result == 1 ? QStringLiteral("成功") : QStringLiteral("失败");
    case TraceColumn:
        return traceText(record.boardTrace);
    default:
        return QString();
    }
}

QVariant HistoryDayModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    const HistoryRecord &record = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return cellText(record, index.column());
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    case Qt::ForegroundRole:
        if (index.column() == ResultColumn)
            return QColor(record.result == 1 ? "#09983b" : "#de4745");
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant HistoryDayModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case PortColumn:
        return QStringLiteral("USB端口");
    case ImageColumn:
        return QStringLiteral("镜像名称");
    case StartColumn:
        return QStringLiteral("开始时间");
    case UsedColumn:
        return QStringLiteral("耗时（秒）");
    case ResultColumn:
        return QStringLiteral("结果");
    case TraceColumn:
        return QStringLiteral("板卡标识");
    default:
        return QString();
    }
}

bool HistoryDayModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_complete;
}

void HistoryDayModel::fetchMore(const QModelIndex &parent)
{
    if (parent.isValid() || m_complete)
        return;
    qint64 afterBegin = -1;
    int afterId = -1;
    if (!m_rows.isEmpty()) {
        afterBegin = m_rows.last().beginTime.toSecsSinceEpoch();
        afterId = m_rows.last().id;
    }
    bool read = false;
    HistoryDatabase *database = HistoryDatabase::instance();
    QList<HistoryRecord> page = database->historyPage(m_day.toString(QLatin1String(kDateFormat)),
                                                      afterBegin, afterId, kPageRows, &read);
    // A refused read would be asked again at every scroll, each waiting out
    // the lock: the day stops here until it is read again.
    m_complete = !read || page.size() < kPageRows;
    m_readError = read ? QString() : database->lastError();
    if (!read) {
        emit readFailed(m_readError);
        return;
    }
    TraceStore::instance()->attachTraces(page);
    if (page.isEmpty())
        return;
    beginInsertRows(QModelIndex(), m_rows.size(), m_rows.size() + page.size() - 1);
    for (const HistoryRecord &record : page)
        m_rows.append(record);
    endInsertRows();
}
