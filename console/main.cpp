#include "application_font.h"
#include "command_line.h"
#include "console_resources.h"
#include "logger.h"
#include "private_files.h"
#include "settings_store.h"
#include "single_instance.h"
#include "veldmark.h"
#include "zel_dialog.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

namespace
{

// Exit status of a console that found another one running.
constexpr int kAnotherConsoleRuns = 2;

// Tells the operator which console runs; this one has touched no board.
int refuseSecondConsole(const SingleInstance &instance)
{
    const SingleInstance::Holder holder = instance.holder();
    std::fprintf(stderr, "Veldmark: another console already runs (folder \"%s\", pid %lld): %s\n",
                 qUtf8Printable(holder.folder), static_cast<long long>(holder.pid),
                 qUtf8Printable(instance.errorString()));
    // Without a screen nobody could answer a dialog; the line above is all.
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
        ZelDialog::alert(nullptr, QStringLiteral("量产工具已在运行（目录：%1，进程号：%2），请使用已打开的窗口")
                                      .arg(holder.folder)
                                      .arg(holder.pid));
    return kAnotherConsoleRuns;
}

} // namespace

int main(int argc, char *argv[])
{
    const bool verbose = handleConsoleCommandLine(argc, argv);
    // Before anything is written; the workers inherit it.
    useOwnerOnlyPermissions();
    // What an earlier version left readable by everyone.
    for (const QString &path : {SettingsStore::fileName(), QStringLiteral("data.db"),
                                QStringLiteral("data.db.pending"), QStringLiteral("log")})
        makeOwnerOnly(path);
    QApplication app(argc, argv);
    Logger::setAlwaysEcho(verbose);
    initConsoleResources();
    installApplicationFont();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/image/veldmark.ico")));
    // Two consoles would each bind and burn the same boards.
    SingleInstance instance;
    if (!instance.acquire()) {
        if (instance.heldElsewhere())
            return refuseSecondConsole(instance);
        // Without a lock this console cannot know it is alone; its report
        // channel, kept in the same place, then refuses to burn.
        std::fprintf(stderr, "Veldmark: %s\n", qUtf8Printable(instance.errorString()));
    }
    Veldmark window;
    window.show();
    return app.exec();
}
