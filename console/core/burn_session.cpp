#include "burn_session.h"

#include "burn_counters.h"
#include "burn_identity.h"
#include "device_change.h"
#include "firmware_image.h"
#include "history_database.h"
#include "history_recorder.h"
#include "report_protocol.h"
#include "slot_binding.h"
#include "trace_store.h"
#include "worker_launcher.h"

#include <QDebug>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>

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

BurnSession::BurnSession(int slotCount, BoardLister listBoards, BoardChecker checkBoard,
                         QObject *parent)
    : QObject(parent), m_slots(slotCount), m_recheck(slotCount), m_showing(slotCount),
      m_mapping(SettingsStore::instance()->portMapping()), m_listBoards(std::move(listBoards)),
      m_checkBoard(std::move(checkBoard)), m_launcher(new WorkerLauncher(slotCount, this)),
      m_recorder(new HistoryRecorder(HistoryDatabase::instance(), this)),
      m_counters(new BurnCounters(this))
{
    connect(m_launcher, &WorkerLauncher::workerEnded, this, &BurnSession::onWorkerEnded);
    // A row that only memory held is counted once it is kept for good.
    connect(m_recorder, &HistoryRecorder::recordKeptLater, this,
            [this](const HistoryRecord &record) { count(record.result == 1); });
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
        scan();
        break;
    default:
        break;
    }
}

void BurnSession::scan()
{
    rescan(m_listBoards());
}

void BurnSession::rescan(const QVector<BoardSighting> &boards)
{
    const QVector<SlotRecord> before = m_slots;
    const PortMapping mappingBefore = m_mapping;
    BindingChecks checks;
    // A slot whose result is on its way to the screen keeps its board until it is shown.
    checks.workerRuns = [this](int slot) { return isBusy(slot); };
    checks.opens = [this](const QString &port) { return opens(port); };
    m_refusedNow.clear();
    const QVector<int> bound = rebindSlots(m_slots, m_mapping, m_sightings, boards, checks);
    // A board waits for its worker: every worker starts before anything is
    // shown or stored, the slots are shown below.
    for (int slot : bound)
        launchWorker(slot);
    if (m_refusedNow != m_refused) {
        m_refused = m_refusedNow;
        emit refusedBoardsChanged();
    }
    // Stored at once as well as at exit: a console that is killed keeps its bindings.
    if (m_mapping != mappingBefore)
        SettingsStore::instance()->setPortMapping(m_mapping);
    for (int i = 0; i < m_slots.size(); ++i) {
        const bool listed = std::any_of(boards.begin(), boards.end(), [&](const BoardSighting &b) {
            return b.port == m_slots[i].portText;
        });
        m_recheck[i] = isBusy(i) && !listed;
        if (m_slots[i].state != before[i].state || m_slots[i].portText != before[i].portText ||
            bound.contains(i))
            emit slotChanged(i);
    }
}

bool BurnSession::loadImage(const QString &path)
{
    if (!isIdle()) {
        qWarning() << "Image not changed while boards burn:" << path;
        return false;
    }
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
    if (launchWorker(slot))
        emit slotChanged(slot);
}

bool BurnSession::launchWorker(int slot)
{
    if (m_imagePath.isEmpty() || m_burningDisabled)
        return false;
    if (!QFileInfo::exists(m_imagePath)) {
        emit imageFileMissing(true);
        return false;
    }
    emit imageFileMissing(false);
    emit selectionEnabled(false);
    if (slot < 0 || slot >= m_slots.size() || m_slots[slot].state != SlotLinked ||
        m_launcher->isRunning(slot))
        return false;
    SlotRecord &record = m_slots[slot];
    record.imageName = m_imageName;
    record.startTime = QDateTime::currentDateTime();
    record.boardTrace.clear();
    m_launcher->start(slot, m_imagePath, record.portText, record.startTime.toSecsSinceEpoch());
    return true;
}

void BurnSession::handleReport(quint32 kind, const QByteArray &payload, qint64 senderPid)
{
    if (kind == ReportTrace) {
        const DecodedTrace trace = decodeTracePayload(payload.constData(), payload.size());
        // Only the slot's own worker knows which board it burns.
        if (trace.valid && trace.slotIndex < m_slots.size()
            && m_launcher->acceptReport(trace.slotIndex, senderPid))
            m_slots[trace.slotIndex].boardTrace = trace.bytes;
        return;
    }
    const DecodedReport report = decodeReportPayload(payload.constData(), payload.size());
    // Without "#" there is no value to act on.
    if (!report.valid || report.slotIndex < 0 || report.slotIndex >= m_slots.size())
        return;
    const int slot = report.slotIndex;
    // A worker of another console, or one that ended, speaks of a burn this
    // slot does not show.
    if (!m_launcher->acceptReport(slot, senderPid)) {
        qWarning().noquote() << "Ignored report" << kind << payload << "from process" << senderPid
                             << ", which is not the running worker of slot" << slot;
        return;
    }
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
    for (int i = 0; i < m_slots.size(); ++i) {
        if (m_launcher->isRunning(i))
            return false;
    }
    return true;
}

void BurnSession::setPendingReportReader(std::function<void()> readPending)
{
    m_launcher->setPendingReportReader(std::move(readPending));
}

void BurnSession::disableBurning()
{
    m_burningDisabled = true;
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
    else
        enableSelectionOnceIdle();
    recheckOnceIdle(slot);
}

bool BurnSession::isBusy(int slot) const
{
    return m_launcher->isRunning(slot) || m_showing[slot] > 0;
}

// A board unplugged during its burn would otherwise stay on screen, and
// plugged in again it would not be burned. Its result is shown first, on the
// slot it was burned in.
void BurnSession::recheckOnceIdle(int slot)
{
    if (m_recheck[slot] && !isBusy(slot)) {
        m_recheck[slot] = false;
        scan();
    }
}

bool BurnSession::opens(const QString &port)
{
    const QString refusal = m_checkBoard(port);
    if (refusal.isEmpty())
        return true;
    // Said once per refusal, not at every listing while it lasts.
    if (m_refused.value(port) != refusal)
        qWarning().noquote() << "Board" << port << "cannot be opened:" << refusal;
    m_refusedNow.insert(port, refusal);
    return false;
}

void BurnSession::setState(int slot, int state)
{
    m_slots[slot].state = state;
    emit slotChanged(slot);
}

// The row is written (or journaled) before the result is shown, and shown
// only once it would survive a power cut; the counters, whose settings write
// may take a while, come last and count only what was kept, so counters and
// rows agree.
void BurnSession::countResult(int slot, bool success)
{
    const QDateTime end = QDateTime::currentDateTime();
    SlotRecord &slotRecord = m_slots[slot];
    // A slot that never started has no start time; the burn then counts from its end.
    const QDateTime begin = slotRecord.startTime.isValid() ? slotRecord.startTime : end;
    HistoryRecord row;
    row.usbPort = slotRecord.portText;
    row.imageFile = slotRecord.imageName;
    row.beginTime = QDateTime::fromSecsSinceEpoch(begin.toSecsSinceEpoch());
    row.usedSeconds = static_cast<int>(begin.secsTo(end));
    row.result = success ? 1 : 0;
    const bool kept = m_recorder->record(&row);
    // The trace names the history row; a row kept aside has no id yet.
    TraceStore::instance()->record(
        burnTrace(slotRecord, m_imageIdentity, row.id, end, success));
    const QDateTime started = slotRecord.startTime;
    ++m_showing[slot];
    m_recorder->whenOnDisk([this, slot, row, success, kept, started] {
        showResult(slot, row, success, kept, started);
    });
}

void BurnSession::showResult(int slot, const HistoryRecord &row, bool success, bool kept,
                             const QDateTime &started)
{
    // A slot emptied, or given a new burn, meanwhile shows its own state.
    if (m_slots[slot].startTime == started && m_slots[slot].portText == row.usbPort) {
        if (success)
            m_slots[slot].progress = 100;
        setState(slot, success ? SlotSucceeded : SlotFailed);
    }
    emit recorded(row);
    emit burnResult();
    if (kept)
        count(success);
    enableSelectionOnceIdle();
    --m_showing[slot];
    recheckOnceIdle(slot);
}

// A worker still ends after its result: the image can be changed only then.
void BurnSession::enableSelectionOnceIdle()
{
    QTimer::singleShot(kReenableDelayMs, this, [this] {
        if (isIdle())
            emit selectionEnabled(true);
    });
}

void BurnSession::count(bool success)
{
    m_counters->count(success);
    emit countersChanged();
}
