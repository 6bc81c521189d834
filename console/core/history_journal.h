#pragma once
// Burn records the history database refused, kept in a small text file beside
// it until the database takes them. One line per record, appended and pushed
// to disk before the burn's result is shown:
//   v1 <TAB> begin seconds <TAB> used seconds <TAB> result <TAB> port <TAB> image
// with port and image percent-encoded (UTF-8), so no tab or line feed of
// theirs can break a line.

#include "history_record.h"

#include <QList>
#include <QString>

class HistoryJournal
{
public:
    explicit HistoryJournal(const QString &path);

    QString path() const { return m_path; }
    // The records kept, oldest first. A last line cut short by a crash while
    // it was written is skipped (logged): its result was never shown.
    QList<HistoryRecord> load() const;
    // Appends one record and pushes it to disk; false (logged) when it could
    // not, with errorString() saying why.
    bool append(const HistoryRecord &record);
    // Replaces the whole journal with records, in their order.
    bool rewrite(const QList<HistoryRecord> &records);
    // Removes the journal once every record in it is stored elsewhere.
    bool clear();
    QString errorString() const { return m_error; }

private:
    QString m_path;
    QString m_error;
};
