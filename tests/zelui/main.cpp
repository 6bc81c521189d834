#include "tst_version_tool.h"
#include "tst_zel_widgets.h"

#include <QApplication>
#include <QTest>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestZelWidgets widgets;
    TestVersionTool versionTool;
    int failures = QTest::qExec(&widgets, argc, argv);
    failures += QTest::qExec(&versionTool, argc, argv);
    return failures;
}
