#pragma once

#include <QObject>

class TestZelDevice : public QObject
{
    Q_OBJECT
private slots:
    void newSlotShowsDisconnected();
    void statesShowTheirTextsAndStyles_data();
    void statesShowTheirTextsAndStyles();
    void burningAndWaitingChangeOnlyTheResult();
    void progressTurnsTheTextWhitePastHalf();
    void failureKeepsTheValueAndPaintsTheChunkRed_data();
    void failureKeepsTheValueAndPaintsTheChunkRed();
    void successFillsTheBar();
    void unknownStateLeavesTheShownResult();
    void resetEmptiesTheSlot();
    void slotNamesHaveTwoDigits();
};
