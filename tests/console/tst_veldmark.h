#pragma once

#include <QObject>
#include <QTemporaryDir>

class TestVeldmark : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void applicationFontIsTheDroidFallback();
    void titleIsExact();
    void windowSizeAndDailyLog();
    void menuRowsAndPages();
    void selectingARowHighlightsItAndShowsItsPage();
    void aboutBoxIsCreatedOnce();
    void historyClearedInTheSettingsIsGoneFromTheHistoryPage();
    void manualHasItsSectionsAndPictures();
    void manualPicturesFitThePageAtTheDefaultSize();
    void iconIsDrawn();

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
};
