#include "firmware_image.h"

#include "partition.h"

#include <QDebug>
#include <QTextCodec>

#include <cstdlib>
#include <cstring>

namespace {

template <size_t N> QString latin1Field(const char (&field)[N])
{
    return QString::fromLatin1(field, int(qstrnlen(field, N)));
}

} // namespace

std::string toGb2312Path(const QString &path)
{
    QTextCodec *codec = QTextCodec::codecForName("GB2312");
    const QByteArray bytes = codec ? codec->fromUnicode(path) : path.toLocal8Bit();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

FirmwareImage::FirmwareImage()
{
    std::memset(&m_header, 0, sizeof(m_header));
}

FirmwareImage::FirmwareImage(const QString &path) : FirmwareImage()
{
    m_path = path;
}

FirmwareImage::~FirmwareImage()
{
    freeTables();
}

void FirmwareImage::setPath(const QString &path)
{
    m_path = path;
    std::memset(&m_header, 0, sizeof(m_header));
    // Tables already cached stay until the next load, but nothing is read
    // from the new file with the old file's count.
    m_loaded = false;
}

QString FirmwareImage::platform() const { return latin1Field(m_header.platform); }
QString FirmwareImage::product() const { return latin1Field(m_header.product); }
QString FirmwareImage::version() const { return latin1Field(m_header.version); }
QString FirmwareImage::mediaType() const { return latin1Field(m_header.media_type); }
QString FirmwareImage::mediaId() const { return latin1Field(m_header.media_id); }

void FirmwareImage::freeTables()
{
    std::free(m_fwcRecords);
    m_fwcRecords = nullptr;
    zelupg_free_partition(m_partitions);
    m_partitions = nullptr;
    m_partitionCount = 0;
}

int FirmwareImage::load()
{
    freeTables();
    m_loaded = false;
    const std::string path = toLibraryPath(m_path);
    if (image_hdr_read(path.c_str(), &m_header) != 0) {
        // The earlier image's count must not be read against this file.
        m_fwcCount = 0;
        return -1;
    }
    m_fwcCount = int(m_header.meta_size >> FWC_META_SHIFT);
    m_loaded = true;
    return 0;
}

const fwc_meta *FirmwareImage::fwcRecords()
{
    if (m_fwcRecords)
        return m_fwcRecords;
    if (!m_loaded || m_fwcCount <= 0)
        return nullptr;

    m_fwcRecords = static_cast<fwc_meta *>(std::calloc(size_t(m_fwcCount), sizeof(fwc_meta)));
    if (!m_fwcRecords) {
        qCritical() << "Failed to malloc()";
        return nullptr;
    }
    const std::string path = toLibraryPath(m_path);
    if (image_meta_read(path.c_str(), m_fwcRecords, m_fwcCount) != 0) {
        qCritical() << "Failed to read meta data";
        std::free(m_fwcRecords);
        m_fwcRecords = nullptr;
    }
    return m_fwcRecords;
}

const upg_partition *FirmwareImage::partitions()
{
    if (m_partitions)
        return m_partitions;
    const fwc_meta *records = fwcRecords();
    if (!records)
        return nullptr;

    for (int i = 0; i < m_fwcCount; i++) {
        if (std::strcmp(records[i].name, IMAGE_ENV_FWC_NAME) != 0)
            continue;
        const std::string path = toLibraryPath(m_path);
        m_partitions = image_partition_read(path.c_str(), IMAGE_ENV_PARTS_KEY, records[i].offset,
                                            records[i].size);
        if (!m_partitions) {
            qWarning() << "Failed to parse the partition table";
            return nullptr;
        }
        m_partitionCount = zelupg_partition_count(m_partitions);
        return m_partitions;
    }
    return nullptr;
}
