#include "application_font.h"
#include "command_line.h"
#include "console_resources.h"
#include "veldmark.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    handleConsoleCommandLine(argc, argv);
    QApplication app(argc, argv);
    initConsoleResources();
    installApplicationFont();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/image/veldmark.ico")));
    Veldmark window;
    window.show();
    return app.exec();
}
