#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Stands in for the desktop's file opener.
class UrlRecorder : public QObject
{
    Q_OBJECT
public slots:
    void open(const QUrl &url);

public:
    QList<QUrl> urls;
};

class TestZelWidgets : public QObject
{
    Q_OBJECT
private slots:
    void alertShowsTextAndReportsTheAnswer();
    void alertWithoutCancelOffersNoCancelButton();
    void dialogTitleAndContent();
    void titleBarShowsTheBarIcon();
    void labelClicksOnlyOnReleaseInside();
    void logDialogColoursLinesByLevel();
    void logDialogOpensTheFolderOfItsFile();
    void calendarMarksExactlyTheGivenDates();
    void fontAwesomeDrawsRealGlyphs();
    void aboutShowsTitleAndBuildTime();
};
