#pragma once
// The Qt-side image object used by the console and the worker: the image's
// path, its header, and the FWC table and partition list read on first use
// and cached until the next load. Paths reach the C library as the platform's
// 8-bit file-name bytes (see toLibraryPath).

#include "image_format.h"

#include <QString>

#include <string>

struct upg_partition;

// The path encoded as GB2312 (characters outside GB2312 are lost), as the
// Windows library expects on a GB2312 code page.
std::string toGb2312Path(const QString &path);

// The bytes handed to the library's readers: GB2312 on Windows,
// QFile::encodeName (UTF-8) on Linux.
std::string toLibraryPath(const QString &path);

class FirmwareImage
{
public:
    FirmwareImage();
    explicit FirmwareImage(const QString &path);
    ~FirmwareImage();
    FirmwareImage(const FirmwareImage &) = delete;
    FirmwareImage &operator=(const FirmwareImage &) = delete;

    // Stores the path and clears the header; tables already cached stay until
    // the next load, and none is read from the new file before it.
    void setPath(const QString &path);
    QString path() const { return m_path; }

    // Header fields of the last load (text decoded as Latin-1).
    QString platform() const;
    QString product() const;
    QString version() const;
    QString mediaType() const;
    QString mediaId() const;
    quint32 mediaDeviceNumber() const { return m_header.media_dev_num; }
    quint32 fileSize() const { return m_header.file_size; }
    const image_header &header() const { return m_header; }

    // Number of FWC records of the last successful load; 0 after a failed one.
    int fwcCount() const { return m_fwcCount; }
    // Number of nodes of the partition list, once partitions() built it.
    int partitionCount() const { return m_partitionCount; }

    // Drops the cached tables and reads the header. 0, or -1 when the image
    // is not valid; after a failure there are no records.
    int load();

    // The FWC records, read on the first call after a load and cached; null
    // after a failed load, for an empty table or when reading fails.
    const fwc_meta *fwcRecords();

    // The partition list of the FWC named exactly "image.updater.env", parsed
    // on the first call and cached; null without such an FWC or on failure.
    const upg_partition *partitions();

private:
    void freeTables();

    QString m_path;
    int m_fwcCount = 0;
    fwc_meta *m_fwcRecords = nullptr;
    int m_partitionCount = 0;
    upg_partition *m_partitions = nullptr;
    image_header m_header;
    bool m_loaded = false;
};
