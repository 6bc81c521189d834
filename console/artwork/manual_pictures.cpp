#include "manual_pictures.h"

#include "console_resources.h"
#include "image_info_row.h"
#include "zel_device.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QHBoxLayout>
#include <QVBoxLayout>

// A frame carrying the console's style sheet. Slots sit on the device list's white;
// everything else on the page's own background.
static bool renderFramed(QWidget *content, const QSize &size, const QString &path,
                         bool onDeviceList = true)
{
    QWidget frame;
    frame.setObjectName(QStringLiteral("picture_frame"));
    frame.setAttribute(Qt::WA_StyledBackground);
    frame.setStyleSheet(
        consoleStyleSheet() +
        (onDeviceList ? QStringLiteral("#picture_frame { background: #fff; }") : QString()));
    auto *layout = new QVBoxLayout(&frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    frame.resize(size);
    frame.show();
    QApplication::processEvents();
    const bool saved = frame.grab().save(path, "PNG");
    if (!saved)
        qCritical() << "Failed to write" << path;
    return saved;
}

static ZelDevice *slotIn(int state, int progress, const QString &port, int number = 1)
{
    auto *slot = new ZelDevice(ZelDevice::slotName(number));
    slot->setPortText(port);
    if (state != ZelDevice::Disconnected)
        slot->setState(ZelDevice::Linked);
    slot->setProgress(progress);
    slot->setState(state);
    return slot;
}

static QWidget *fiveBurningSlots()
{
    static const int kProgress[] = {82, 64, 47, 23, 6};
    auto *grid = new QWidget;
    auto *rows = new QVBoxLayout(grid);
    rows->setSpacing(10);
    QHBoxLayout *row = nullptr;
    for (int i = 0; i < 5; ++i) {
        if (i % 2 == 0) {
            row = new QHBoxLayout;
            row->setSpacing(10);
            rows->addLayout(row);
        }
        row->addWidget(
            slotIn(ZelDevice::Burning, kProgress[i], QStringLiteral("1:%1").arg(i + 1), i + 1), 1);
    }
    row->addStretch(1);
    return grid;
}

// Width of the wide pictures. At the window's default 1024 px, the manual's
// text is 884 px wide (less the 100 px menu, the page margins of 2 x 15 px and
// the 10 px scroll bar), and a picture between list items sits behind the
// list's indent of about 40 px plus the label's margins; 820 leaves a few
// pixels to spare, so nothing is cut off under the scroll bar.
static const int kWidePictureWidth = 820;

bool renderManualPictures(const QString &folder)
{
    const QDir dir(folder);
    const QSize slotSize(420, 80);
    auto *info = new ImageInfoRow;
    info->setInfo(QStringLiteral("ZK230"), QStringLiteral("zk230_evb"), QStringLiteral("1.0.3"),
                  QStringLiteral("SPI NOR"));
    const QString port = QStringLiteral("1:2");
    return renderFramed(info, QSize(kWidePictureWidth, 38),
                        dir.filePath(QStringLiteral("img_info.png")), false) &&
           renderFramed(slotIn(ZelDevice::Disconnected, 0, QString()), slotSize,
                        dir.filePath(QStringLiteral("status_idle.png"))) &&
           renderFramed(slotIn(ZelDevice::Linked, 0, port), slotSize,
                        dir.filePath(QStringLiteral("status_linked.png"))) &&
           renderFramed(slotIn(ZelDevice::Burning, 36, port), slotSize,
                        dir.filePath(QStringLiteral("status_buring.png"))) &&
           renderFramed(slotIn(ZelDevice::Succeeded, 100, port), slotSize,
                        dir.filePath(QStringLiteral("status_success.png"))) &&
           renderFramed(slotIn(ZelDevice::Failed, 63, port), slotSize,
                        dir.filePath(QStringLiteral("status_fail.png"))) &&
           renderFramed(fiveBurningSlots(), QSize(kWidePictureWidth, 290),
                        dir.filePath(QStringLiteral("devs_burn.png")));
}
