#pragma once
// The burn page's decisions, without any widget: which board sits in which
// slot, when a worker starts, what each worker report means for its slot, and
// how results are counted and recorded. The page only shows what it is told.

#include "board_listing.h"
#include "history_record.h"
#include "burn_trace.h"
#include "settings_store.h"
#include "slot_binding.h"
#include "slot_record.h"

#include <QObject>
#include <QMap>
#include <QVector>

#include <functional>
#include <memory>

class FirmwareImage;
class BurnCounters;
class HistoryRecorder;
class WorkerLauncher;

class BurnSession : public QObject
{
    Q_OBJECT
public:
    using BoardLister = std::function<QVector<BoardSighting>()>;
    // Empty when the board at a port can be opened, else why not.
    using BoardChecker = std::function<QString(const QString &port)>;

    // slotCount slots; listBoards lists the
    // boards at every device change, checkBoard is asked before a board is
    // bound. The port map is read from the settings here, stored whenever it
    // changes and written back when destroyed.
    BurnSession(int slotCount, BoardLister listBoards, BoardChecker checkBoard,
                QObject *parent = nullptr);
    ~BurnSession() override;

    int slotCount() const { return m_slots.size(); }
    const SlotRecord &slot(int index) const { return m_slots.at(index); }
    // The image burned from now on; empty until one has loaded.
    QString imagePath() const { return m_imagePath; }
    const FirmwareImage *image() const { return m_image.get(); }
    PortMapping portMapping() const { return m_mapping; }

    // A device-change notification (arrival, removal, nodes changed); only
    // nodes-changed lists the boards and rebinds the slots.
    void handleDeviceChange(int event);
    void rescan(const QVector<BoardSighting> &boards);
    // Lists the boards now: those present before any device change are bound too.
    void scan();
    // Boards seen but not bound because they cannot be opened: port to reason.
    QMap<QString, QString> refusedBoards() const { return m_refused; }
    // Loads and selects the image, then burns every slot waiting for one.
    // False when the file is missing or no valid image, or while a worker
    // runs: its progress is measured against the image it burns.
    bool loadImage(const QString &path);
    void startBurn(int slot);
    // One worker report: its kind and payload "ZEL_<slot>#<value>_TOOL".
    // senderPid: the process that sent it, 0 when the platform does not say;
    // a report from any process but the slot's running worker is ignored.
    void handleReport(quint32 kind, const QByteArray &payload, qint64 senderPid = 0);
    // Handles every report that has arrived but not been handled yet.
    void setPendingReportReader(std::function<void()> readPending);
    // Without a way to hear from workers no burn could be recorded: no
    // worker starts any more.
    void disableBurning();
    // No worker of this session runs, whatever its slot shows.
    bool isIdle() const;
    void clearPortMapping();
    HistoryRecorder *recorder() const { return m_recorder; }
    BurnCounters *counters() const { return m_counters; }

signals:
    // The slot's port text, image name or state changed.
    void slotChanged(int slot);
    void progressChanged(int slot);
    void countersChanged();
    void imageLoaded();
    // A file that is no valid image was chosen; the earlier image stays.
    void imageInvalid();
    // Whether the selected image file is there when a burn is to start.
    void imageFileMissing(bool missing);
    void selectionEnabled(bool enabled);
    // A burn's row, recorded (or kept aside) and on the disk, as its result is shown.
    void recorded(const HistoryRecord &record);
    // A result was recorded, shown and counted.
    void burnResult();
    // The boards that cannot be opened changed.
    void refusedBoardsChanged();

private:
    // Starts the slot's worker without showing the slot; false when it
    // cannot start now.
    bool launchWorker(int slot);
    void setState(int slot, int state);
    void countResult(int slot, bool success);
    void showResult(int slot, const HistoryRecord &row, bool success, bool kept,
                    const QDateTime &started);
    void count(bool success);
    void onWorkerEnded(int slot, bool resultSeen);
    // Its worker runs, or its result waits for the disk to be shown.
    bool isBusy(int slot) const;
    void recheckOnceIdle(int slot);
    void enableSelectionOnceIdle();
    bool opens(const QString &port);

    QVector<SlotRecord> m_slots;
    // Slots kept at a rescan only because they were busy: their board was not
    // listed, so whether it is still there is known only once they are idle.
    QVector<bool> m_recheck;
    // Results recorded and not yet shown, per slot.
    QVector<int> m_showing;
    PortMapping m_mapping;
    PortSightings m_sightings;
    QMap<QString, QString> m_refused;
    QMap<QString, QString> m_refusedNow; // gathered during one rescan
    BoardLister m_listBoards;
    BoardChecker m_checkBoard;
    std::unique_ptr<FirmwareImage> m_image;
    QString m_imagePath;
    QString m_imageName;
    ImageIdentity m_imageIdentity;
    WorkerLauncher *m_launcher;
    bool m_burningDisabled = false;
    HistoryRecorder *m_recorder;
    BurnCounters *m_counters;
};
