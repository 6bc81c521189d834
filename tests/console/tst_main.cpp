#include "console_resources.h"
#include "tst_veldmark.h"
#include "tst_zel_device.h"

#include <QApplication>
#include <QTest>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    initConsoleResources();
    TestZelDevice device;
    TestVeldmark window;
    int failures = QTest::qExec(&device, argc, argv);
    failures += QTest::qExec(&window, argc, argv);
    return failures;
}
