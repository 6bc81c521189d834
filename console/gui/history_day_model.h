#pragma once
// One day's burns for the history table, newest start first. Rows are read
// from the database a page at a time as the view scrolls to them, and a new
// burn is put in at its place without reading the day again, so a day of
// 100,000 burns costs what the screen shows.

#include "history_record.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QVector>

class HistoryDayModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // To add a column, add it here (before ButtonColumn) and to headerText and cellText.
    enum Column {
        IdColumn,
        PortColumn,
        ImageColumn,
        StartColumn,
        UsedColumn,
        ResultColumn,
        TraceColumn,
        ButtonColumn,
        ColumnCount
    };
    static constexpr int kPageRows = 200;

    explicit HistoryDayModel(QObject *parent = nullptr);

    QDate day() const { return m_day; }
    // Shows date: the rows loaded so far are dropped, the first page read.
    void setDay(const QDate &date);
    // Reads the shown day again from its first page.
    void reload();
    // A burn just recorded: put in at its place when it belongs to the shown day.
    void addRecord(const HistoryRecord &record);
    const HistoryRecord &record(int row) const { return m_rows.at(row); }
    // Why the last page could not be read (SQLite's text); empty once one is.
    QString readError() const { return m_readError; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

signals:
    // A page could not be read; the view asks for no more until reload.
    void readFailed(const QString &error);

private:
    static QString cellText(const HistoryRecord &record, int column);

    QDate m_day;
    QVector<HistoryRecord> m_rows;
    bool m_complete = true;
    QString m_readError;
};
