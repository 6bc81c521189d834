// Starts the console window as the program does, selects each menu row in turn
// the way a click does, and writes one screenshot per page (a second one,
// scrolled half-way, of a page longer than the window; and one of the about
// box) into the folder given as the only argument.

#include "application_font.h"
#include "console_resources.h"
#include "veldmark.h"
#include "zel_about.h"
#include "zel_label.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTest>
#include <QTextStream>

static bool save(QWidget *widget, const QString &path)
{
    QApplication::processEvents();
    QTest::qWait(200);
    const bool saved = widget->grab().save(path, "PNG");
    QTextStream(stdout) << (saved ? "wrote " : "FAILED to write ") << path << Qt::endl;
    return saved;
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: veldmark_screenshots <output folder>\n";
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral(".")))
        return 1;
    initConsoleResources();
    installApplicationFont();

    Veldmark window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;

    bool ok = true;
    auto *menu = window.findChild<QListWidget *>(QStringLiteral("left_menu"));
    QWidget *pages = window.findChild<QWidget *>(QStringLiteral("right_content"));
    for (int row = 0; row < menu->count(); ++row) {
        menu->setCurrentRow(row);
        const QString page =
            qobject_cast<QStackedLayout *>(pages->layout())->currentWidget()->objectName();
        ok &= save(&window, folder.filePath(QStringLiteral("%1_%2.png").arg(row + 1).arg(page)));
        // A page longer than the window (the manual) is shown once more
        // scrolled half-way, where its wide pictures are.
        auto *scroll = qobject_cast<QStackedLayout *>(pages->layout())
                           ->currentWidget()
                           ->findChild<QScrollArea *>();
        if (scroll && scroll->verticalScrollBar()->maximum() > 0) {
            scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum() / 2);
            ok &= save(&window,
                       folder.filePath(QStringLiteral("%1_%2_middle.png").arg(row + 1).arg(page)));
        }
    }

    QTest::mouseClick(window.findChild<ZelLabel *>(QStringLiteral("about_btn")), Qt::LeftButton);
    if (auto *about = window.findChild<ZelAbout *>())
        ok &= save(about, folder.filePath(QStringLiteral("5_about.png")));
    else
        ok = false;
    return ok ? 0 : 1;
}
