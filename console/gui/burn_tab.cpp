#include "burn_tab.h"

#include "board_listing.h"
#include "burn_counters.h"
#include "burn_identity.h"
#include "burn_session.h"
#include "central_history.h"
#include "elided_label.h"
#include "firmware_image.h"
#include "history_recorder.h"
#include "image_info_row.h"
#include "settings_store.h"
#include "trace_store.h"
#include "zel_device.h"
#include "zel_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace
{

constexpr int kSlotRowHeight = 80;

// Sixteen bars repainted at the screen's rate cost the console a tenth of a
// core; an operator reads a bar no more than ten times a second.
constexpr int kProgressPaintMs = 100;

QLabel *counterLabel(const QString &caption)
{
    auto *label = new QLabel(caption);
    label->setTextFormat(Qt::RichText);
    return label;
}

void showCount(QLabel *label, int count, const char *colour)
{
    const QString caption = label->text().section(QStringLiteral("："), 0, 0);
    label->setText(caption +
                   QStringLiteral("：<span style=\"font-style: italic; font-weight: bold; color: "
                                  "%1;\">%2</span>")
                       .arg(QLatin1String(colour))
                       .arg(count));
}

} // namespace

BurnTab::BurnTab(QWidget *parent)
    : ZelTab(parent),
      m_session(new BurnSession(SettingsStore::instance()->maxDevCount(), &listBoards,
                                &boardRefusal, this)),
      m_imgPath(new QLineEdit), m_selectBtn(new QPushButton(QStringLiteral("选择镜像"))),
      m_imgInfo(new ImageInfoRow), m_refused(new QLabel), m_totalCount(counterLabel(QStringLiteral("总次数："))),
      m_successCount(counterLabel(QStringLiteral("成功次数："))),
      m_failCount(counterLabel(QStringLiteral("失败次数："))), m_recordNotice(new QLabel),
      m_central(new CentralHistory(TraceStore::instance(), centralUrl(), this)),
      m_centralState(new ElidedLabel), m_progressPace(new QTimer(this))
{
    m_progressPace->setSingleShot(true);
    m_progressPace->setInterval(kProgressPaintMs);
    connect(m_progressPace, &QTimer::timeout, this, &BurnTab::paintDueProgress);
    setObjectName(QStringLiteral("burn_tab"));
    createMenuEntry(QStringLiteral("镜像烧写"), FontAwesome::Fire);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(createImageRow(), 0);
    layout->addWidget(m_imgInfo, 0);
    layout->addWidget(createDeviceGrid(), 1);
    m_refused->setObjectName(QStringLiteral("refused_boards"));
    m_refused->setWordWrap(true);
    m_refused->setStyleSheet(QStringLiteral("color: #de4745;"));
    m_refused->hide();
    layout->addWidget(m_refused, 0);
    layout->addWidget(m_recordNotice, 0);
    layout->addWidget(createCounterRow(), 0);

    connect(m_session, &BurnSession::slotChanged, this, &BurnTab::showSlot);
    connect(m_session, &BurnSession::progressChanged, this, &BurnTab::showProgress);
    connect(m_session, &BurnSession::countersChanged, this, &BurnTab::refreshCounters);
    connect(m_session, &BurnSession::imageLoaded, this, &BurnTab::showImage);
    connect(m_session, &BurnSession::imageInvalid, this,
            [this] { ZelDialog::alert(this, QStringLiteral("镜像格式不正确")); });
    connect(m_session, &BurnSession::imageFileMissing, this, &BurnTab::showImageFileMissing);
    connect(m_session, &BurnSession::selectionEnabled, m_selectBtn, &QPushButton::setEnabled);
    connect(m_session, &BurnSession::recorded, this, &BurnTab::historyRecorded);
    connect(m_session, &BurnSession::burnResult, this, &BurnTab::burnResult);
    connect(m_session, &BurnSession::refusedBoardsChanged, this, &BurnTab::showRefusedBoards);
    HistoryRecorder *recorder = m_session->recorder();
    connect(recorder, &HistoryRecorder::noticeChanged, this, &BurnTab::showRecordNotice);
    connect(recorder, &HistoryRecorder::drained, this, &BurnTab::historyStored);
    m_recordNotice->setObjectName(QStringLiteral("record_notice"));
    m_recordNotice->setWordWrap(true);
    m_recordNotice->setStyleSheet(QStringLiteral("color: #de4745; font-weight: bold;"));
    showRecordNotice(recorder->notice());
    connect(m_session, &BurnSession::burnResult, m_central, &CentralHistory::pickUp);
    connect(m_central, &CentralHistory::stateChanged, this,
            [this] { m_centralState->setFullText(m_central->stateText()); });

    const QString stored = SettingsStore::instance()->imagePath();
    if (!stored.isEmpty())
        m_session->loadImage(stored);
}

QWidget *BurnTab::createImageRow()
{
    m_imgPath->setObjectName(QStringLiteral("img_path"));
    m_imgPath->setEnabled(false);
    m_imgPath->setPlaceholderText(QStringLiteral("未选择镜像"));
    m_selectBtn->setObjectName(QStringLiteral("select_btn"));
    m_selectBtn->setCursor(Qt::PointingHandCursor);
    connect(m_selectBtn, &QPushButton::clicked, this, &BurnTab::selectImage);

    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(m_imgPath, 1);
    layout->addWidget(m_selectBtn, 0);
    return row;
}

QWidget *BurnTab::createDeviceGrid()
{
    const int count = m_session->slotCount();
    const int columns = SettingsStore::instance()->devColumnCount();
    const int rows = (count + columns - 1) / columns;
    auto *list = new QListWidget;
    list->setObjectName(QStringLiteral("device_list"));
    // Rows follow the list's width, also when a scroll bar takes part of it.
    list->setResizeMode(QListView::Adjust);
    for (int row = 0; row < rows; ++row) {
        auto *rowWidget = new QWidget;
        auto *rowLayout = new QHBoxLayout(rowWidget);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(10);
        for (int k = row * columns + 1; k <= row * columns + columns && k <= count; ++k) {
            auto *device = new ZelDevice(ZelDevice::slotName(k));
            m_devices.append(device);
            rowLayout->addWidget(device, 0);
        }
        auto *item = new QListWidgetItem(list);
        item->setSizeHint(QSize(list->width(), kSlotRowHeight));
        list->setItemWidget(item, rowWidget);
    }
    return list;
}

QWidget *BurnTab::createCounterRow()
{
    auto *row = new QWidget;
    row->setObjectName(QStringLiteral("statistic_info"));
    auto *layout = new QHBoxLayout(row);
    layout->addWidget(m_totalCount);
    layout->addWidget(m_successCount);
    layout->addWidget(m_failCount);
    m_centralState->setObjectName(QStringLiteral("central_state"));
    m_centralState->setFullText(m_central->stateText());
    layout->addWidget(m_centralState, 1);
    refreshCounters();
    return row;
}

bool BurnTab::isIdle() const
{
    return m_session->isIdle();
}

void BurnTab::scanBoards()
{
    m_session->scan();
}

void BurnTab::handleDeviceChange(int event)
{
    m_session->handleDeviceChange(event);
}

void BurnTab::handleReport(quint32 kind, const QByteArray &payload, qint64 senderPid)
{
    m_session->handleReport(kind, payload, senderPid);
}

void BurnTab::refuseBurning(const QString &reason)
{
    m_session->disableBurning();
    m_selectBtn->setEnabled(false);
    m_imgPath->setStyleSheet(QStringLiteral("color: red;"));
    m_imgPath->setText(QStringLiteral("无法接收烧写结果，不能烧写：%1").arg(reason));
    // Once the window is up: the operator must see it, not only the log.
    QTimer::singleShot(0, this, [this] {
        ZelDialog::alert(this, QStringLiteral("无法接收烧写结果，不能烧写，请关闭其他量产工具后重新启动"));
    });
}

void BurnTab::loadImage(const QString &path)
{
    m_session->loadImage(path);
}

void BurnTab::refreshCounters()
{
    const BurnCounters::Counts counts = m_session->counters()->counts();
    showCount(m_totalCount, counts.total, "#ff5722");
    showCount(m_successCount, counts.succeeded, "#09983b");
    showCount(m_failCount, counts.failed, "#de4745");
}

bool BurnTab::resetCounters()
{
    const bool written = m_session->counters()->reset();
    refreshCounters();
    return written;
}

void BurnTab::clearPortMapping()
{
    m_session->clearPortMapping();
}

void BurnTab::selectImage()
{
    const QString stored = SettingsStore::instance()->imagePath();
    const int slash = stored.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash > 0 ? stored.left(slash) : QDir::currentPath();
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("选择镜像文件"), folder,
                                                      QStringLiteral("镜像文件(*.img)"));
    if (!path.isEmpty())
        m_session->loadImage(path);
}

void BurnTab::showImage()
{
    const FirmwareImage *image = m_session->image();
    m_imgPath->setText(m_session->imagePath());
    m_imgInfo->setInfo(image->platform(), image->product(), image->version(), image->mediaType());
}

void BurnTab::showImageFileMissing(bool missing)
{
    // Told at every burn start, while the next boards wait for their
    // workers: a style sheet set anew polishes the field again.
    const QString style = missing ? QStringLiteral("color: red;") : QString();
    if (m_imgPath->styleSheet() != style)
        m_imgPath->setStyleSheet(style);
    m_imgPath->setToolTip(missing ? QStringLiteral("镜像文件不存在或已被删除，请重新选择镜像文件")
                                  : QString());
}

void BurnTab::showSlot(int slot)
{
    // The bar takes its last progress before the state that may end it.
    if (m_progressDue.remove(slot))
        m_devices.at(slot)->setProgress(m_session->slot(slot).progress);
    const SlotRecord &record = m_session->slot(slot);
    ZelDevice *device = m_devices.at(slot);
    device->setPortText(record.portText);
    device->setImageName(record.imageName);
    device->setState(record.state);
}

// Red until every kept row is stored: the operator must know that the
// history misses rows and why, in the database's own words.
void BurnTab::showRecordNotice(const QString &notice)
{
    m_recordNotice->setText(notice);
    m_recordNotice->setVisible(!notice.isEmpty());
}

void BurnTab::showProgress(int slot)
{
    m_progressDue.insert(slot);
    if (!m_progressPace->isActive())
        m_progressPace->start();
}

void BurnTab::paintDueProgress()
{
    for (int slot : qAsConst(m_progressDue))
        m_devices.at(slot)->setProgress(m_session->slot(slot).progress);
    m_progressDue.clear();
}

void BurnTab::showRefusedBoards()
{
    QStringList lines;
    const QMap<QString, QString> refused = m_session->refusedBoards();
    for (auto it = refused.constBegin(); it != refused.constEnd(); ++it)
        lines.append(QStringLiteral("设备 %1 无法打开：%2").arg(it.key(), it.value()));
    m_refused->setText(lines.join(QLatin1Char('\n')));
    m_refused->setVisible(!lines.isEmpty());
}
