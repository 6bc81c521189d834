#pragma once

#include <QObject>

class TestSettingTab : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void gridButtonsFollowTheFileAndWriteTheClickedValue();
    void clearingAPeriodRemovesItsRowsAndBurnLogsAndKeepsMainLogs_data();
    void clearingAPeriodRemovesItsRowsAndBurnLogsAndKeepsMainLogs();
    void clearingThatCannotChangeTheDatabaseKeepsEverythingAndSaysSo();
    void resetAndBindingClearingSayWhetherTheFileWasWritten();
    void feedbackLinkOpensTheConfiguredService();
    void restartIsRefusedWhileABoardIsBurning();
};
