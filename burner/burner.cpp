#include "burner.h"

#include "device_linker_usb.h"
#include "firmware_image.h"
#include "image_format.h"
#include "library_log_hook.h"
#include "report.h"
#include "upg_device.h"
#include "zelupg_cmd.h"
#include "zelupg_log.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <cstdlib>
#include <cstring>

namespace {
constexpr quint32 kChunkLimit = 1024 * 1024;

// The largest whole number of blocks that fits in 1 MiB, or one block when a
// block is larger than that.
quint32 chunkSizeFor(quint32 blockSize)
{
    return blockSize <= kChunkLimit ? kChunkLimit - kChunkLimit % blockSize : blockSize;
}

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
}  // namespace

Burner::Burner(const QString &usbPosition, const QString &imagePath, int slotIndex)
    : Burner(std::make_unique<DeviceLinkerUSB>(usbPosition), imagePath, slotIndex)
{
}

Burner::Burner(std::unique_ptr<DeviceLinker> link, const QString &imagePath, int slotIndex)
    : m_slotIndex(slotIndex)
{
    if (libzelupg_init() != 0) {
        qCritical() << "Failed to init libusbupg!";
        return;
    }
    zelupg_set_log_filter(libraryLogWanted);
    zelupg_set_log_hook(libraryLogHook);

    if (!QFileInfo::exists(imagePath)) {
        qCritical() << "Image file not exist" << imagePath;
        return;
    }
    m_image = std::make_unique<FirmwareImage>();
    m_image->setPath(imagePath);
    if (m_image->load() != 0) {
        qCritical() << "Image file invalid:" << imagePath;
        return;
    }
    m_link = std::move(link);
    m_ready = true;
}

Burner::~Burner()
{
    m_link.reset();
    zelupg_set_log_hook(nullptr);
    zelupg_set_log_filter(nullptr);
    libzelupg_exit();
}

void Burner::run()
{
    if (!m_ready) {
        report(ReportResult, m_slotIndex, 0);
        return;
    }
    const QString board = m_link->name();
    qDebug() << "\nBurn Image file" << m_image->path() << "...\n";
    const std::string libraryPath = toLibraryPath(m_image->path());

    bool success = false;
    std::FILE *file = nullptr;
    if (!m_link->open()) {
        qCritical() << "Failed to open USB device" << board;
    } else if (!(file = std::fopen(libraryPath.c_str(), "rb"))) {
        qCritical() << "Failed to open image file" << m_image->path();
    } else {
        success = burnAll(file);
    }

    report(ReportResult, m_slotIndex, success ? 1 : 0);
    m_link->close();
    if (file)
        std::fclose(file);
}

bool Burner::burnAll(std::FILE *file)
{
    const fwc_meta *records = m_image->fwcRecords();
    if (!records)
        return false;
    const int count = m_image->fwcCount();
    const QString board = m_link->name();

    report(ReportProgress, m_slotIndex, 0);
    m_bytesSent = 0;
    for (int i = 0; i < count; ++i) {
        QMutexLocker locker(&m_lock);
        const fwc_meta &entry = records[i];
        qDebug() << "Meta" << i << entry.name << "...";
        if (!m_link->probe()) {
            // A link that knows the board was already upgrading treats its
            // leaving as a loss; a USB link forgets the mode on a failed probe.
            if (m_link->inUpgradeMode()) {
                qCritical() << "Device" << board << "is disconnect!";
                return false;
            }
            // The board restarts after a loader stage and leaves the bus.
            report(ReportWaiting, m_slotIndex, 0);
            const bool back = m_link->waitReconnect();
            qDebug() << "Waiting" << board << "over";
            report(ReportResumed, m_slotIndex, 0);
            if (!back) {
                qCritical() << "Dev" << board << "is completely lost!";
                return false;
            }
        }
        const fwc_meta *next = i + 1 < count ? &records[i + 1] : nullptr;
        if (!burnComponent(entry, next, file))
            return false;
    }
    qDebug() << "\nBurn" << board << "successfully!";
    return true;
}

bool Burner::burnComponent(const fwc_meta &entry, const fwc_meta *next, std::FILE *file)
{
    const QString board = m_link->name();
    if (!m_link->sendMeta(entry)) {
        qCritical() << "Failed to send the meta information!";
        return false;
    }
    const quint32 blockSize = m_link->blockSize();
    const quint32 chunk = chunkSizeFor(blockSize);
    std::unique_ptr<unsigned char, FreeDeleter> buffer(static_cast<unsigned char *>(std::malloc(chunk)));
    if (!buffer) {
        qCritical() << "Failed to malloc";
        return false;
    }
    const quint32 chunks = entry.size / chunk;
    const quint32 rest = entry.size % chunk;
    qDebug() << "Blocksize" << blockSize << ", chunk" << chunk << "*" << chunks << ", rest" << rest;
    qDebug() << "Offset:" << entry.offset << "Size:" << entry.size;

    if (std::fseek(file, static_cast<long>(entry.offset), SEEK_SET) != 0) {
        qCritical() << " Dev" << board << "Failed to read" << (chunks ? chunk : rest);
        return false;
    }
    for (quint32 k = 0; k < chunks; ++k) {
        qDebug() << " Dev" << board << "Send chunk" << k << "...";
        if (!sendChunk(file, buffer.get(), chunk, chunk))
            return false;
    }
    if (rest != 0) {
        // The board takes whole blocks: the last one is padded with zeros. The
        // padded rest never exceeds a chunk, which is a whole number of blocks.
        const quint32 padded = rest % blockSize ? rest + (blockSize - rest % blockSize) : rest;
        std::memset(buffer.get() + rest, 0, padded - rest);
        qDebug() << " Dev" << board << "Send the rest data" << padded;
        if (!sendChunk(file, buffer.get(), rest, padded))
            return false;
    }

    FwcResults results;
    if (!m_link->finish(entry, next, &results)) {
        qCritical() << " Dev" << board << "The burnning process has error!";
        return false;
    }
    return true;
}

bool Burner::sendChunk(std::FILE *file, unsigned char *buffer, quint32 readLength, quint32 sendLength)
{
    const QString board = m_link->name();
    // A short read means a damaged or truncated image: sending the buffer
    // would put stale bytes on the board.
    if (std::fread(buffer, 1, readLength, file) != readLength) {
        qCritical() << " Dev" << board << "Failed to read" << readLength;
        return false;
    }
    if (!m_link->send(buffer, sendLength)) {
        qCritical() << " Dev" << board << "Failed to send" << sendLength;
        return false;
    }
    m_bytesSent += sendLength;
    reportProgress();
    return true;
}

void Burner::reportProgress()
{
    report(ReportProgress, m_slotIndex, static_cast<int>(m_bytesSent));
}
