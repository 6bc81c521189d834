#pragma once
// The worker's view of one board. The base class implements the status probe
// and the transfer operations once, over a few primitives (isOpen, open,
// close) that a transport supplies; with the primitives left at their
// defaults a link behaves as a board that is not open.

#include <QString>
#include <QtGlobal>

struct upg_device;
struct fwc_meta;

// What the board answered when a component was finished.
struct FwcResults {
    quint32 crc = 0;
    quint32 burnResult = 0;
    quint32 runResult = 0;
};

class DeviceLinker
{
public:
    explicit DeviceLinker(const QString &name);
    virtual ~DeviceLinker();
    DeviceLinker(const DeviceLinker &) = delete;
    DeviceLinker &operator=(const DeviceLinker &) = delete;

    virtual bool isOpen() const;
    // Asks the board's status; rewrites the upgrade-mode flag (0 on failure).
    bool probe();
    bool inUpgradeMode() const;
    virtual quint32 blockSize() const;
    virtual bool open();
    virtual bool close();
    // Hands length bytes of the current component's data to the board.
    virtual bool send(const void *data, quint32 length);
    // Meta entry, block size query and start of the data phase.
    virtual bool sendMeta(const fwc_meta &entry);
    // Data end and the result queries the entry's attributes ask for. next is
    // the entry that follows in the table, or null for the last one.
    virtual bool finish(const fwc_meta &entry, const fwc_meta *next, FwcResults *results);
    // Closes the stale handle and re-opens the board within 10 seconds.
    virtual bool waitReconnect();
    // Sends the board command line "reset".
    virtual bool reset();
    QString name() const { return m_name; }

protected:
    QString m_name;
    upg_device *m_handle = nullptr;
    quint32 m_blockSize = 0;
    quint8 m_upgradeMode = 0;
};
