#include "report_record.h"

#include <algorithm>
#include <cstring>

namespace {
void putLe32(char *out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

quint32 getLe32(const unsigned char *in)
{
    return quint32(in[0]) | quint32(in[1]) << 8 | quint32(in[2]) << 16 | quint32(in[3]) << 24;
}
}  // namespace

QByteArray encodeReportRecord(quint32 kind, const QByteArray &payload)
{
    if (static_cast<quint32>(payload.size()) > kMaxReportPayload)
        return QByteArray();
    QByteArray record(kReportRecordHeader, '\0');
    putLe32(record.data(), kind);
    putLe32(record.data() + 4, static_cast<quint32>(payload.size()));
    return record + payload;
}

int ReportRecordReader::missing() const
{
    if (m_state != Incomplete)
        return 0;
    if (m_headerBytes < kReportRecordHeader)
        return kReportRecordHeader - m_headerBytes;
    return m_payloadSize - m_payload.size();
}

int ReportRecordReader::append(const char *data, int size)
{
    int used = 0;
    while (used < size && m_state == Incomplete) {
        const int take = std::min(size - used, missing());
        if (m_headerBytes < kReportRecordHeader) {
            std::memcpy(m_header + m_headerBytes, data + used, static_cast<size_t>(take));
            m_headerBytes += take;
            if (m_headerBytes == kReportRecordHeader)
                takeHeader();
        } else {
            m_payload.append(data + used, take);
            if (m_payload.size() == m_payloadSize)
                m_state = Complete;
        }
        used += take;
    }
    return used;
}

void ReportRecordReader::takeHeader()
{
    m_kind = getLe32(m_header);
    const quint32 size = getLe32(m_header + 4);
    if (size > kMaxReportPayload) {
        m_state = Invalid;
        return;
    }
    m_payloadSize = static_cast<int>(size);
    m_payload.reserve(m_payloadSize);
    if (m_payloadSize == 0)
        m_state = Complete;
}
