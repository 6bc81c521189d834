#pragma once
// One report on the wire between a worker and the console: the kind and the
// payload length (32-bit little-endian each), then the payload bytes.

#include <QByteArray>

constexpr int kReportRecordHeader = 8;
// Largest payload a receiver accepts; reports are a few dozen bytes.
constexpr quint32 kMaxReportPayload = 4096;

// The record of one report; empty when the payload is too large to be sent.
QByteArray encodeReportRecord(quint32 kind, const QByteArray &payload);

// Reassembles one record from the pieces a connection delivers.
class ReportRecordReader
{
public:
    enum State { Incomplete, Complete, Invalid };

    // How many more bytes are needed before the record can say more: the
    // rest of the header, then the rest of the payload; 0 once complete or
    // invalid. Reading no more than this never reads past the record.
    int missing() const;
    // Takes bytes until the record is complete or invalid; returns how many
    // it used. A payload longer than kMaxReportPayload makes it invalid.
    int append(const char *data, int size);

    State state() const { return m_state; }
    // Whether any byte of the record has come.
    bool started() const { return m_headerBytes > 0; }
    quint32 kind() const { return m_kind; }
    // The payload once the record is complete.
    const QByteArray &payload() const { return m_payload; }

private:
    void takeHeader();

    State m_state = Incomplete;
    unsigned char m_header[kReportRecordHeader] = {};
    int m_headerBytes = 0;
    quint32 m_kind = 0;
    int m_payloadSize = 0;
    QByteArray m_payload;
};
