#include "console_resources.h"
#include "tst_veldmark.h"
#include "tst_zel_device.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The windows' report channel and console lock apart from any console
    // or test that runs meanwhile: a taken channel stops the burn page.
    QTemporaryDir runtime;
    if (!runtime.isValid())
        return 1;
    QFile::setPermissions(runtime.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    initConsoleResources();
    TestZelDevice device;
    TestVeldmark window;
    int failures = QTest::qExec(&device, argc, argv);
    failures += QTest::qExec(&window, argc, argv);
    return failures;
}
