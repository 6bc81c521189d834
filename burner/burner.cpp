#include "burner.h"

#include "device_link_for.h"
#include "device_linker.h"
#include "file_seek.h"
#include "firmware_image.h"
#include "fwc_rules.h"
#include "image_format.h"
#include "library_log_hook.h"
#include "report.h"
#include "report_protocol.h"
#include "settings_store.h"
#include "upg_device.h"
#include "zelupg_cmd.h"
#include "zelupg_log.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <cstdlib>
#include <cstring>

namespace {
constexpr qint64 kChunkLogIntervalMs = 1000;
// The console paints a slot's bar ten times a second: progress reported more
// often (a chunk takes 20 ms at USB 2.0 speed) wakes it for nothing, sixteen
// workers at once.
constexpr qint64 kProgressReportIntervalMs = 100;

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

// Opening anything but a regular file (a FIFO, a device) can block for ever
// or read without end.
bool isRegularFileOrAbsent(const QString &path)
{
    const QFileInfo info(path);
    return !info.exists() || info.isFile();
}
}  // namespace

Burner::Burner(const QString &usbPosition, const QString &imagePath, int slotIndex)
    : Burner(deviceLinkFor(usbPosition), imagePath, slotIndex)
{
}

Burner::Burner(std::unique_ptr<DeviceLinker> link, const QString &imagePath, int slotIndex)
    : m_slotIndex(slotIndex)
{
    // The library's debug messages ask the settings for "is_verbose".
    if (!isRegularFileOrAbsent(SettingsStore::fileName())) {
        qCritical() << "Settings file is not a regular file:" << SettingsStore::fileName();
        return;
    }
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
    if (!QFileInfo(imagePath).isFile()) {
        qCritical() << "Image file is not a regular file:" << imagePath;
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
    if (!m_link->openFirst()) {
        qCritical() << "Failed to open USB device" << board;
    } else if (!(file = std::fopen(libraryPath.c_str(), "rb"))) {
        qCritical() << "Failed to open image file" << m_image->path();
    } else {
        reportBoardTrace();
        success = burnAll(file);
        // A failed burn shows how far it got, also when that was not reported yet.
        if (!success && m_bytesSent != m_bytesReported)
            report(ReportProgress, m_slotIndex, m_bytesSent);
    }

    report(ReportResult, m_slotIndex, success ? 1 : 0);
    m_link->close();
    if (file)
        std::fclose(file);
}

// The console records the board's own identity with the burn; a board that
// has none is burned all the same.
void Burner::reportBoardTrace()
{
    QByteArray trace;
    if (!m_link->traceInfo(&trace)) {
        qDebug() << "Device" << m_link->name() << "has no trace information";
        return;
    }
    qDebug() << "Device" << m_link->name() << "trace information" << trace.toHex();
    // A cut trace would name another board: none is recorded instead.
    if (trace.size() > kMaxTraceBytes) {
        qWarning() << "Device" << m_link->name() << "trace information of" << trace.size()
                   << "bytes is too long to report; the burn is recorded without it";
        return;
    }
    reportTrace(m_slotIndex, trace);
}

bool Burner::burnAll(std::FILE *file)
{
    const int count = m_image->fwcCount();
    if (count <= 0) {
        qCritical() << "Image has no components: its meta size" << m_image->header().meta_size
                    << "holds no" << FWC_META_DISK_SIZE << "byte entry";
        return false;
    }
    const fwc_meta *records = m_image->fwcRecords();
    if (!records)
        return false;
    const QString board = m_link->name();

    report(ReportProgress, m_slotIndex, 0);
    m_sinceProgressReport.start();
    m_bytesSent = 0;
    m_bytesReported = 0;
    for (int i = 0; i < count; ++i) {
        QMutexLocker locker(&m_lock);
        const fwc_meta &entry = records[i];
        qDebug() << "Meta" << i << entry.name << "...";
        unsigned char wire[FWC_META_DISK_SIZE];
        if (!readEntry(file, i, entry, wire))
            return false;
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
        if (!burnComponent(entry, wire, next, file))
            return false;
    }
    qDebug() << "\nBurn" << board << "successfully!";
    return true;
}

// The board gets the entry's 512 bytes exactly as the image holds them; the
// record's texts were cut to NUL-terminated ones for reading and logging.
bool Burner::readEntry(std::FILE *file, int index, const fwc_meta &record, unsigned char *wire)
{
    const quint64 offset = IMAGE_META_OFFSET + quint64(index) * FWC_META_DISK_SIZE;
    if (!seekFile(file, offset) ||
        std::fread(wire, 1, FWC_META_DISK_SIZE, file) != FWC_META_DISK_SIZE) {
        qCritical() << "Failed to read meta" << index << "of the image";
        return false;
    }
    fwc_meta decoded;
    fwc_meta_decode(wire, &decoded);
    if (std::memcmp(&decoded, &record, sizeof(decoded)) != 0) {
        qCritical() << "Meta" << index << "of the image changed since it was read";
        return false;
    }
    return true;
}

bool Burner::burnComponent(const fwc_meta &entry, const unsigned char *wire, const fwc_meta *next,
                           std::FILE *file)
{
    const QString board = m_link->name();
    if (!m_link->sendMeta(entry, wire)) {
        qCritical() << "Failed to send the meta information!";
        return false;
    }
    // The link refuses block sizes outside the bound, so the chunk is not 0.
    const quint32 blockSize = m_link->blockSize();
    const quint32 chunk = zelupg_fwc_chunk_size(blockSize);
    std::unique_ptr<unsigned char, FreeDeleter> buffer(
        static_cast<unsigned char *>(std::malloc(chunk)));
    if (!buffer) {
        qCritical() << "Failed to malloc";
        return false;
    }
    const quint32 chunks = entry.size / chunk;
    const quint32 rest = entry.size % chunk;
    qDebug() << "Blocksize" << blockSize << ", chunk" << chunk << "*" << chunks << ", rest" << rest;
    qDebug() << "Offset:" << entry.offset << "Size:" << entry.size;

    if (!seekFile(file, entry.offset)) {
        qCritical() << " Dev" << board << "Failed to read" << (chunks ? chunk : rest);
        return false;
    }
    QElapsedTimer sinceChunkLogged;
    for (quint32 k = 0; k < chunks; ++k) {
        // A line a second shows how far the burn got; a dated line per chunk
        // cost the burn time.
        if (!sinceChunkLogged.isValid() || sinceChunkLogged.elapsed() >= kChunkLogIntervalMs) {
            qDebug() << " Dev" << board << "Send chunk" << k << "of" << chunks << "...";
            sinceChunkLogged.start();
        }
        if (!readChunk(file, buffer.get(), chunk) ||
            !sendChunk(buffer.get(), chunk, k + 1 == chunks && rest == 0)) {
            qCritical() << " Dev" << board << "Stopped at chunk" << k << "of" << chunks;
            return false;
        }
    }
    if (rest != 0) {
        if (!readChunk(file, buffer.get(), rest))
            return false;
        // The board takes whole blocks: the last one is padded with zeros. The
        // padded rest never exceeds a chunk, which is a whole number of blocks.
        const auto padded = static_cast<quint32>(zelupg_fwc_padded_length(rest, blockSize));
        std::memset(buffer.get() + rest, 0, padded - rest);
        qDebug() << " Dev" << board << "Send the rest data" << padded;
        if (!sendChunk(buffer.get(), padded, true))
            return false;
    }

    FwcResults results;
    if (!m_link->finish(entry, next, &results)) {
        qCritical() << " Dev" << board << "The burnning process has error!";
        return false;
    }
    return true;
}

bool Burner::readChunk(std::FILE *file, unsigned char *buffer, quint32 length)
{
    // A short read means a damaged or truncated image: sending the buffer
    // would put stale bytes on the board.
    if (std::fread(buffer, 1, length, file) != length) {
        qCritical() << " Dev" << m_link->name() << "Failed to read" << length;
        return false;
    }
    return true;
}

bool Burner::sendChunk(const unsigned char *buffer, quint32 length, bool endsComponent)
{
    if (!m_link->send(buffer, length)) {
        qCritical() << " Dev" << m_link->name() << "Failed to send" << length;
        return false;
    }
    m_bytesSent += length;
    if (endsComponent || m_sinceProgressReport.elapsed() >= kProgressReportIntervalMs) {
        report(ReportProgress, m_slotIndex, m_bytesSent);
        m_bytesReported = m_bytesSent;
        m_sinceProgressReport.start();
    }
    return true;
}
