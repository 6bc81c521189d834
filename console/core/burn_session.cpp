#include "burn_session.h"

#include "burn_identity.h"
#include "device_change.h"
#include "firmware_image.h"
#include "history_database.h"
#include "report_protocol.h"
#include "slot_binding.h"
#include "trace_store.h"
#include "worker_launcher.h"

#include <QDebug>
#include <QFileInfo>
#include <QTimer>

namespace
{

constexpr int kReenableDelayMs = 1000;

// a.b.img is shown as a.img: the text before the first "." and the suffix.
QString displayName(const QString &path)
{
    const QFileInfo info(path);
    return info.baseName() + QLatin1Char('.') + info.suffix();
}

// Whole percent of fileSize, truncated; an empty image counts as 0 %.
int progressPercent(qint64 value, quint32 fileSize)
{
    if (fileSize == 0)
        return 0;
    return static_cast<int>(static_cast<double>(value) / fileSize * 100);
}

} // namespace

BurnSession::BurnSession(int slotCount, PortLister listPorts, QObject *parent)
    : QObject(parent), m_slots(slotCount), m_recheck(slotCount),
      m_mapping(SettingsStore::instance()->portMapping()), m_listPorts(std::move(listPorts)),
      m_launcher(new WorkerLauncher(slotCount, this))
{
    connect(m_launcher, &WorkerLauncher::workerEnded, this, &BurnSession::onWorkerEnded);
}

BurnSession::~BurnSession()
{
    SettingsStore::instance()->setPortMapping(m_mapping);
}

void BurnSession::handleDeviceChange(int event)
{
    switch (event) {
    case DeviceArrival:
        qDebug() << "\nWinEvent: Some device arrival";
        break;
    case DeviceRemoveComplete:
        qDebug() << "\nWinEvent: Some device removed";
        break;
    case DeviceNodesChanged:
        qDebug() << "\nWinEvent: Some device changed";
        rescan(m_listPorts());
        break;
    default:
        break;
    }
}

void BurnSession::rescan(const QStringList &ports)
{
    const QVector<SlotRecord> before = m_slots;
    const PortMapping mappingBefore = m_mapping;
    const QVector<int> bound = rebindSlots(
        m_slots, m_mapping, ports, [this](int slot) { return m_launcher->isRunning(slot); });
    // Stored at once as well as at exit: a console that is killed keeps its bindings.
    if (m_mapping != mappingBefore)
        SettingsStore::instance()->setPortMapping(m_mapping);
    for (int i = 0; i < m_slots.size(); ++i) {
        m_recheck[i] = m_launcher->isRunning(i) && !ports.contains(m_slots[i].portText);
        if (m_slots[i].state != before[i].state || m_slots[i].portText != before[i].portText ||
            bound.contains(i))
            emit slotChanged(i);
    }
    for (int slot : bound)
        startBurn(slot);
}

bool BurnSession::loadImage(const QString &path)
{
    if (!QFileInfo::exists(path)) {
        qCritical() << "Image file not exist" << path;
        return false;
    }
    // Loaded aside: a file that is no image leaves the selected one whole.
    auto image = std::make_unique<FirmwareImage>(path);
    qDebug() << "Parse the image header from" << path;
    if (image->load() != 0) {
        qCritical() << "Image file invalid:" << path;
        emit imageInvalid();
        return false;
    }
    m_image = std::move(image);
    m_imagePath = path;
    m_imageName = displayName(path);
    m_imageIdentity = imageIdentity(*m_image);
    SettingsStore::instance()->setImagePath(path);
    qDebug() << "Soc type:" << m_image->platform();
    qDebug() << "Board type:" << m_image->product();
    qDebug() << "Image version:" << m_image->version();
    qDebug() << "Storage type:" << m_image->mediaType();
    qDebug() << "Storage ID:" << m_image->mediaId();
    qDebug() << "Meta count:" << m_image->fwcCount();
    emit imageLoaded();

    // Boards bound while no usable image was chosen.
    for (int i = 0; i < m_slots.size(); ++i) {
        if (m_slots[i].state == SlotLinked)
            startBurn(i);
    }
    return true;
}

void BurnSession::startBurn(int slot)
{
    if (m_imagePath.isEmpty())
        return;
    if (!QFileInfo::exists(m_imagePath)) {
        emit imageFileMissing(true);
        return;
    }
    emit imageFileMissing(false);
    emit selectionEnabled(false);
    if (slot < 0 || slot >= m_slots.size() || m_slots[slot].state != SlotLinked ||
        m_launcher->isRunning(slot))
        return;
    SlotRecord &record = m_slots[slot];
    record.imageName = m_imageName;
    record.startTime = QDateTime::currentDateTime();
    record.boardTrace.clear();
    emit slotChanged(slot);
    m_launcher->start(slot, m_imagePath, record.portText, record.startTime.toSecsSinceEpoch());
}

void BurnSession::handleReport(quint32 kind, const QByteArray &payload)
{
    if (kind == ReportTrace) {
        const DecodedTrace trace = decodeTracePayload(payload.constData(), payload.size());
        if (trace.valid && trace.slotIndex < m_slots.size())
            m_slots[trace.slotIndex].boardTrace = trace.bytes;
        return;
    }
    const DecodedReport report = decodeReportPayload(payload.constData(), payload.size());
    // Without "#" there is no value to act on.
    if (!report.valid || report.slotIndex < 0 || report.slotIndex >= m_slots.size())
        return;
    const int slot = report.slotIndex;
    switch (kind) {
    case ReportProgress: {
        const quint32 fileSize = m_image ? m_image->fileSize() : 0;
        if (report.value < 0 || report.value > fileSize)
            return;
        if (report.value == 0)
            setState(slot, SlotBurning);
        // Most reports of a large image leave the whole percent as it was.
        const int percent = progressPercent(report.value, fileSize);
        if (percent != m_slots[slot].progress || report.value == 0) {
            m_slots[slot].progress = percent;
            emit progressChanged(slot);
        }
        break;
    }
    case ReportWaiting:
        setState(slot, SlotWaitingReboot);
        break;
    case ReportResumed:
        setState(slot, SlotBurning);
        break;
    case ReportResult:
        m_launcher->noteResult(slot);
        countResult(slot, report.value > 0);
        break;
    default:
        break;
    }
}

bool BurnSession::isIdle() const
{
    for (const SlotRecord &slot : m_slots) {
        if (slot.state == SlotBurning || slot.state == SlotWaitingReboot)
            return false;
    }
    return true;
}

void BurnSession::clearPortMapping()
{
    m_mapping.clear();
}

void BurnSession::onWorkerEnded(int slot, bool resultSeen)
{
    // A worker that dies or cannot start sends no result: still one failed burn.
    if (!resultSeen)
        countResult(slot, false);
    // A board unplugged during its burn would otherwise stay on screen, and
    // plugged in again it would not be burned.
    if (m_recheck[slot]) {
        m_recheck[slot] = false;
        rescan(m_listPorts());
    }
}

void BurnSession::setState(int slot, int state)
{
    m_slots[slot].state = state;
    emit slotChanged(slot);
}

void BurnSession::countResult(int slot, bool success)
{
    SettingsStore::instance()->countResult(success);
    emit countersChanged();
    SlotRecord &record = m_slots[slot];
    if (success)
        record.progress = 100;
    setState(slot, success ? SlotSucceeded : SlotFailed);
    const QDateTime end = QDateTime::currentDateTime();
    const int historyId = HistoryDatabase::instance()->addHistory(
        record.portText, record.imageName, record.startTime, end, success);
    TraceStore::instance()->record(burnTrace(record, m_imageIdentity, historyId, end, success));
    emit burnResult();
    QTimer::singleShot(kReenableDelayMs, this, [this] {
        if (isIdle())
            emit selectionEnabled(true);
    });
}
