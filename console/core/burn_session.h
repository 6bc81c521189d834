#pragma once
// The burn page's decisions, without any widget: which board sits in which
// slot, when a worker starts, what each worker report means for its slot, and
// how results are counted and recorded. The page only shows what it is told.

#include "burn_trace.h"
#include "settings_store.h"
#include "slot_record.h"

#include <QObject>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

class FirmwareImage;
class WorkerLauncher;

class BurnSession : public QObject
{
    Q_OBJECT
public:
    using PortLister = std::function<QStringList()>;

    // slotCount slots; listPorts lists the boards at every device change. The
    // port map is read from the settings here, stored whenever it
    // grows and written back when destroyed.
    BurnSession(int slotCount, PortLister listPorts, QObject *parent = nullptr);
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
    void rescan(const QStringList &ports);
    // Loads and selects the image, then burns every slot waiting for one.
    // False when the file is missing or no valid image.
    bool loadImage(const QString &path);
    void startBurn(int slot);
    // One worker report: its kind and payload "ZEL_<slot>#<value>_TOOL".
    void handleReport(quint32 kind, const QByteArray &payload);
    // No slot is burning or waiting for its board to restart.
    bool isIdle() const;
    void clearPortMapping();

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
    // A result was counted, shown and recorded.
    void burnResult();

private:
    void setState(int slot, int state);
    void countResult(int slot, bool success);
    void onWorkerEnded(int slot, bool resultSeen);

    QVector<SlotRecord> m_slots;
    // Slots kept at a rescan only because their worker ran: their board was not
    // listed, so whether it is still there is known only after the worker ends.
    QVector<bool> m_recheck;
    PortMapping m_mapping;
    PortLister m_listPorts;
    std::unique_ptr<FirmwareImage> m_image;
    QString m_imagePath;
    QString m_imageName;
    ImageIdentity m_imageIdentity;
    WorkerLauncher *m_launcher;
};
