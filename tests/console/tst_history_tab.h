#pragma once

#include <QObject>

class TestHistoryTab : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void emptyDatabaseAllowsOnlyToday();
    void walksBackDayByDayToTheEarliestRecordAndPicksDaysInTheCalendar();
    void burnResultAddsOneRowInPlaceWhileTheDayIsReadAsItScrolls();
    void logOpensWithEachLineAtTheLevelOfItsLeadingTag();
    void missingOrEmptyLogIsReportedAndLeavesTheOpenLogAsItWas();
    void deleteRemovesRowAndLogAndKeepsBothWhenTheRowCannotGo();
    void exportWritesTheShownDayOrAllDaysAsCsv();
    void aLockedDatabaseIsStillReadAndARefusedReadIsSaidAndRetried();
    void theTableIsDrawnPixelForPixelAsQtDrawsIt();
};
