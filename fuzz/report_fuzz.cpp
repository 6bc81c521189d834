// Fuzz target: the input as the bytes of one report connection, arriving in
// pieces as the receiver reads them, and its payload as the console decodes
// it. The first byte chooses the size of the pieces.

#include "report_protocol.h"
#include "report_record.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {
void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 1 << 16)
        return 0;
    const int piece = data[0] % 16 + 1;
    const char *bytes = reinterpret_cast<const char *>(data) + 1;
    const int length = static_cast<int>(size) - 1;

    ReportRecordReader inPieces;
    int used = 0;
    while (used < length && inPieces.state() == ReportRecordReader::Incomplete) {
        const int wanted = std::min({piece, length - used, inPieces.missing()});
        check(wanted > 0);
        check(inPieces.append(bytes + used, wanted) == wanted);
        used += wanted;
    }
    ReportRecordReader atOnce;
    check(atOnce.append(bytes, length) == used);
    check(atOnce.state() == inPieces.state());

    switch (inPieces.state()) {
    case ReportRecordReader::Complete:
        check(atOnce.kind() == inPieces.kind() && atOnce.payload() == inPieces.payload());
        check(static_cast<quint32>(inPieces.payload().size()) <= kMaxReportPayload);
        check(encodeReportRecord(inPieces.kind(), inPieces.payload()) == QByteArray(bytes, used));
        decodeReportPayload(inPieces.payload().constData(), inPieces.payload().size());
        break;
    case ReportRecordReader::Invalid:
        check(used == kReportRecordHeader);
        break;
    case ReportRecordReader::Incomplete:
        check(used == length && inPieces.missing() > 0);
        break;
    }

    // Any bytes as a payload; and what a worker sends reads back unchanged.
    decodeReportPayload(bytes, length);
    decodeTracePayload(bytes, length);
    if (length >= 4) {
        int slot;
        std::memcpy(&slot, bytes, sizeof(slot));
        slot &= std::numeric_limits<int>::max();
        const QByteArray trace(bytes + 4, static_cast<int>(length - 4));
        const DecodedTrace read = decodeTracePayload(buildTracePayload(slot, trace).constData(),
                                                     buildTracePayload(slot, trace).size());
        check(read.valid && read.slotIndex == slot && read.bytes == trace);
    }
    if (length >= 12) {
        int slot;
        quint64 value;
        std::memcpy(&slot, bytes, sizeof(slot));
        std::memcpy(&value, bytes + 4, sizeof(value));
        // Workers send counts; those up to the signed limit read back as sent.
        value &= quint64(std::numeric_limits<qint64>::max());
        const QByteArray sent = buildReportPayload(slot, value);
        const DecodedReport read = decodeReportPayload(sent.constData(), sent.size());
        check(read.valid && read.slotIndex == slot && read.value == qint64(value));
    }
    return 0;
}
