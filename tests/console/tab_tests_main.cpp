#include "console_resources.h"
#include "tst_history_tab.h"
#include "tst_setting_tab.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    initConsoleResources();
    // Settings store and history database bind to this directory at first use.
    QTemporaryDir directory;
    if (!directory.isValid() || !QDir::setCurrent(directory.path()))
        return 1;
    TestHistoryTab history;
    TestSettingTab settings;
    int failures = QTest::qExec(&history, argc, argv);
    failures += QTest::qExec(&settings, argc, argv);
    return failures;
}
