#include "application_font.h"
#include "console_resources.h"
#include "veldmark.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    initConsoleResources();
    installApplicationFont();
    Veldmark window;
    window.show();
    return app.exec();
}
