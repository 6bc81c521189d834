#include "device_linker.h"

#include "fwc_rules.h"
#include "image_format.h"
#include "upg_device.h"
#include "zelupg_cmd.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QThread>
#include <QTime>

#include <cstdlib>
#include <cstring>

namespace {
constexpr qint64 kReconnectDeadlineMs = 10000;
constexpr unsigned long kReconnectPaceMs = 100;
// The console lists boards by opening and claiming each for a moment, so a
// board that has just arrived can be busy when its worker first opens it.
constexpr qint64 kFirstOpenDeadlineMs = 2000;

QString hex32(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString timeOfDay()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
}
}  // namespace

DeviceLinker::DeviceLinker(const QString &name) : m_name(name) {}

DeviceLinker::~DeviceLinker()
{
    close();
}

quint32 DeviceLinker::blockSize() const { return m_blockSize; }
upg_device *DeviceLinker::openHandle() { return nullptr; }

bool DeviceLinker::open()
{
    if (isOpen())
        return true;
    m_handle = openHandle();
    if (!m_handle)
        return false;
    if (probe())
        return true;
    close();
    return false;
}

bool DeviceLinker::close()
{
    if (!isOpen())
        return false;
    upg_dev_close(m_handle);
    m_handle = nullptr;
    return true;
}

bool DeviceLinker::probe()
{
    if (!isOpen())
        return false;
    int mode = 0;
    const int rc = zelupg_get_device_status(m_handle, &mode);
    m_upgradeMode = rc == 0 ? static_cast<quint8>(mode) : 0;
    return rc == 0;
}

bool DeviceLinker::traceInfo(QByteArray *bytes)
{
    bytes->clear();
    if (!isOpen())
        return false;
    uint8_t *answer = nullptr;
    const int length = zelupg_cmd_get_traceinfo(m_handle, &answer);
    if (length > 0)
        *bytes = QByteArray(reinterpret_cast<const char *>(answer), length);
    std::free(answer);
    return !bytes->isEmpty();
}

bool DeviceLinker::inUpgradeMode() const
{
    return isOpen() && m_upgradeMode != 0;
}

bool DeviceLinker::send(const void *data, quint32 length)
{
    if (!isOpen())
        return false;
    const int sent = zelupg_cmd_send_fwc_data_update(m_handle, data, length);
    if (sent >= 0 && static_cast<quint32>(sent) == length)
        return true;
    qCritical() << "Dev" << m_name << "Failed to send data" << length;
    return false;
}

bool DeviceLinker::sendMeta(const fwc_meta &entry, const unsigned char *wireEntry)
{
    if (!isOpen())
        return false;
    if (zelupg_cmd_set_fwc_meta(m_handle, wireEntry) != 0) {
        qCritical() << "Dev" << m_name << "Failed to send meta head!";
        return false;
    }
    const int blockSize = zelupg_cmd_get_block_size(m_handle);
    if (blockSize <= 0) {
        qCritical() << "Dev" << m_name << "Failed to get block size!";
        return false;
    }
    // The block size is the host's chunk buffer and the padding of the rest.
    if (!zelupg_fwc_block_size_ok(blockSize)) {
        qCritical() << "Dev" << m_name << "Block size" << blockSize << "is above the limit of"
                    << ZELUPG_FWC_MAX_BLOCK_SIZE;
        return false;
    }
    m_blockSize = static_cast<quint32>(blockSize);
    if (zelupg_cmd_send_fwc_data_start(m_handle, entry.size) != 0) {
        qCritical() << "Dev" << m_name << "Failed to send meta size!";
        return false;
    }
    return true;
}

bool DeviceLinker::finish(const fwc_meta &entry, const fwc_meta *next, FwcResults *results)
{
    if (!isOpen())
        return false;
    // The last loader stage restarts the board as it closes, so its closing
    // response is not awaited; the burner waits for the board instead.
    const bool lastUpdater =
        zelupg_fwc_is_loader_stage(entry.name) && !(next && zelupg_fwc_is_loader_stage(next->name));
    if (lastUpdater) {
        zelupg_cmd_send_fwc_data_final(m_handle);
        qCritical() << "Don't check the result of" << entry.name;
        return true;
    }
    if (zelupg_cmd_send_fwc_data_final(m_handle) != 0) {
        qCritical() << "Dev" << m_name << "Failed to send meta end!";
        return false;
    }
    if (zelupg_cmd_get_fwc_crc(m_handle, &results->crc) != 0) {
        qCritical() << "Dev" << m_name << "Failed to get the CRC!";
        return false;
    }
    // The entry's CRC is what the board computes over the component: any
    // other value means the bytes on the board are not the image's.
    if (results->crc != entry.crc) {
        qCritical().noquote() << "Dev" << quoted(m_name) << "CRC of" << entry.name << "is wrong: expected"
                              << hex32(entry.crc) << "reported" << hex32(results->crc);
        return false;
    }
    if (std::strstr(entry.attributes, "burn")) {
        if (zelupg_cmd_get_fwc_burn_result(m_handle, &results->burnResult) != 0) {
            qCritical() << "Dev" << m_name << "Failed to get burn result!";
            return false;
        }
        if (!zelupg_result_accepted(results->burnResult)) {
            qCritical() << "Dev" << m_name << "Burn result of" << entry.name << "is a failure:" << results->burnResult;
            return false;
        }
    }
    if (std::strstr(entry.attributes, "run")) {
        if (zelupg_cmd_get_fwc_run_result(m_handle, &results->runResult) != 0) {
            qCritical() << "Dev" << m_name << "Failed to get run result!";
            return false;
        }
        if (!zelupg_result_accepted(results->runResult)) {
            qCritical() << "Dev" << m_name << "Run result of" << entry.name << "is a failure:" << results->runResult;
            return false;
        }
    }
    return true;
}

bool DeviceLinker::openWithin(qint64 deadlineMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (open())
            return true;
        if (clock.elapsed() >= deadlineMs)
            return false;
        QThread::msleep(kReconnectPaceMs);
    }
}

bool DeviceLinker::openFirst()
{
    return openWithin(kFirstOpenDeadlineMs);
}

bool DeviceLinker::waitReconnect()
{
    qDebug() << "Wait to reconnect dev" << m_name;
    if (!isOpen())
        return false;
    close();
    qDebug() << timeOfDay() << "Wait for Dev" << m_name << "ready";
    if (openWithin(kReconnectDeadlineMs))
        return true;
    qCritical() << timeOfDay() << "Dev" << m_name << "lost!";
    return false;
}

bool DeviceLinker::reset()
{
    if (!isOpen())
        return false;
    zelupg_cmd_run_shell(m_handle, "reset");
    return true;
}
