// Build step: draws the console's icon (and its menu icons at the sizes the
// desktop looks for) and renders the manual's pictures into the folder given
// as the only argument.

#include "app_icon.h"
#include "application_font.h"
#include "console_resources.h"
#include "manual_pictures.h"

#include <QApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: veldmark_artwork <output folder>\n";
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder))
        return 1;
    initConsoleResources();
    installApplicationFont();
    if (!drawAppIcon(128).save(QDir(folder).filePath(QStringLiteral("veldmark.ico")), "ICO"))
        return 1;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/icons/%2x%2").arg(folder).arg(size);
        if (!QDir().mkpath(dir) || !drawAppIcon(size).save(dir + QStringLiteral("/veldmark.png")))
            return 1;
    }
    return renderManualPictures(folder) ? 0 : 1;
}
