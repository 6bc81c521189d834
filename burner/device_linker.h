#pragma once
// The worker's view of one board. The base class implements opening, the
// status probe and the transfer operations once, over the one primitive a
// transport supplies (openHandle); with it left at its default a link
// behaves as a board that is not open.

#include <QByteArray>
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

    bool isOpen() const { return m_handle != nullptr; }
    // Asks the board's status; rewrites the upgrade-mode flag (0 on failure).
    bool probe();
    bool inUpgradeMode() const;
    virtual quint32 blockSize() const;
    // Opens the board and asks its status; a board that does not answer is
    // closed again.
    bool open();
    bool close();
    // Hands length bytes of the current component's data to the board.
    virtual bool send(const void *data, quint32 length);
    // Meta entry, block size query and start of the data phase. wireEntry is
    // the entry's 512 bytes as the image holds them; they go to the board
    // unchanged. A block size above ZELUPG_FWC_MAX_BLOCK_SIZE fails.
    virtual bool sendMeta(const fwc_meta &entry, const unsigned char *wireEntry);
    // Data end and the result queries the entry's attributes ask for. next is
    // the entry that follows in the table, or null for the last one. The last
    // loader stage of a run is handed over unchecked: the board restarts as
    // it closes.
    virtual bool finish(const fwc_meta &entry, const fwc_meta *next, FwcResults *results);
    // Closes the stale handle and re-opens the board within 10 seconds.
    virtual bool waitReconnect();
    // Opens the board, trying again for a moment while it is busy elsewhere.
    bool openFirst();
    // The board's trace information (command 0x01); false when the board
    // gives none, leaving bytes empty.
    bool traceInfo(QByteArray *bytes);
    // Sends the board command line "reset".
    virtual bool reset();
    QString name() const { return m_name; }

protected:
    // The transport's open handle of the board, or null.
    virtual upg_device *openHandle();
    bool openWithin(qint64 deadlineMs);

    QString m_name;
    upg_device *m_handle = nullptr;
    quint32 m_blockSize = 0;
    quint8 m_upgradeMode = 0;
};
