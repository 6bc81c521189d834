#include "zel_calendar.h"

#include <QLocale>
#include <QTextCharFormat>

ZelCalendar::ZelCalendar(QWidget *parent) : QCalendarWidget(parent)
{
    setObjectName(QStringLiteral("zel_calendar"));
    // Month and day names in the operator's language, weeks starting on Monday.
    setLocale(QLocale(QLocale::Chinese, QLocale::China));
    setFirstDayOfWeek(Qt::Monday);
    setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    setGridVisible(true);
}

QTextCharFormat ZelCalendar::markFormat()
{
    QTextCharFormat format;
    format.setBackground(QColor(0xff, 0xe8, 0x9f));
    format.setForeground(QColor(0x20, 0x71, 0xc7));
    format.setFontWeight(QFont::Bold);
    return format;
}

void ZelCalendar::setShowDates(const QList<QDate> &dates)
{
    for (const QDate &date : qAsConst(m_shownDates))
        setDateTextFormat(date, QTextCharFormat());
    m_shownDates = dates;
    const QTextCharFormat mark = markFormat();
    for (const QDate &date : dates)
        setDateTextFormat(date, mark);
}

QList<QDate> ZelCalendar::showDates() const
{
    return m_shownDates;
}
