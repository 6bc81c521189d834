#pragma once
// A calendar that marks the dates it is given (the days that have data).

#include <QCalendarWidget>
#include <QList>

class ZelCalendar : public QCalendarWidget
{
    Q_OBJECT
public:
    explicit ZelCalendar(QWidget *parent = nullptr);

    // Replaces the marked dates: earlier marks are removed.
    void setShowDates(const QList<QDate> &dates);
    QList<QDate> showDates() const;

    static QTextCharFormat markFormat();

private:
    QList<QDate> m_shownDates;
};
