#pragma once
// One burn of one image into one board: construction checks the library and
// the image, run() sends every component and ends with exactly one result
// report.

#include <QElapsedTimer>
#include <QMutex>
#include <QString>

#include <cstdio>
#include <memory>

class DeviceLinker;
class FirmwareImage;
struct fwc_meta;

class Burner
{
public:
    // Never fails outright: on any failure it logs and stays not ready. The
    // board is a USB position or a serial port (see deviceLinkFor).
    Burner(const QString &usbPosition, const QString &imagePath, int slotIndex);
    // The same over a link of any transport (a serial port, for example).
    Burner(std::unique_ptr<DeviceLinker> link, const QString &imagePath, int slotIndex);
    // Shuts the library down.
    ~Burner();
    Burner(const Burner &) = delete;
    Burner &operator=(const Burner &) = delete;

    bool isReady() const { return m_ready; }
    void run();

private:
    void reportBoardTrace();
    bool burnAll(std::FILE *file);
    bool readEntry(std::FILE *file, int index, const fwc_meta &record, unsigned char *wire);
    bool burnComponent(const fwc_meta &entry, const unsigned char *wire, const fwc_meta *next,
                       std::FILE *file);
    bool readChunk(std::FILE *file, unsigned char *buffer, quint32 length);
    // endsComponent: the component's last chunk, whose progress is always reported.
    bool sendChunk(const unsigned char *buffer, quint32 length, bool endsComponent);

    QMutex m_lock;
    std::unique_ptr<FirmwareImage> m_image;
    std::unique_ptr<DeviceLinker> m_link;
    int m_slotIndex;
    bool m_ready = false;
    // Bytes handed to the board, padding included: images pass 4 GiB.
    quint64 m_bytesSent = 0;
    quint64 m_bytesReported = 0;
    QElapsedTimer m_sinceProgressReport;
};
