#include "application_font.h"
#include "console_resources.h"
#include "private_files.h"
#include "settings_store.h"
#include "veldmark.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    // Before anything is written; the workers inherit it.
    useOwnerOnlyPermissions();
    // What an earlier version left readable by everyone.
    for (const QString &path : {SettingsStore::fileName(), QStringLiteral("data.db"),
                                QStringLiteral("data.db.pending"), QStringLiteral("log")})
        makeOwnerOnly(path);
    QApplication app(argc, argv);
    initConsoleResources();
    installApplicationFont();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/image/veldmark.ico")));
    Veldmark window;
    window.show();
    return app.exec();
}
