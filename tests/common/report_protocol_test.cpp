#include "report_protocol.h"
#include "report_record.h"

#include <gtest/gtest.h>

#include <limits>

namespace {
DecodedReport decode(const QByteArray &bytes)
{
    return decodeReportPayload(bytes.constData(), bytes.size());
}
}  // namespace

TEST(ReportPayload, BuildsTheTextTheConsoleExpects)
{
    EXPECT_EQ(buildReportPayload(3, 1048576), QByteArray("ZEL_3#1048576_TOOL"));
    // Progress past 2 and 4 GiB stays a non-negative number, up to 2^64 - 1.
    EXPECT_EQ(buildReportPayload(0, 3000000000u), QByteArray("ZEL_0#3000000000_TOOL"));
    EXPECT_EQ(buildReportPayload(1, 18446744073709551615ull), QByteArray("ZEL_1#18446744073709551615_TOOL"));
    // Beyond the signed range a count stays larger than any image file.
    EXPECT_EQ(decode(buildReportPayload(1, 18446744073709551615ull)).value,
              std::numeric_limits<qint64>::max());
    EXPECT_EQ(decode("ZEL_1#5000000000_TOOL").value, Q_INT64_C(5000000000));
    EXPECT_EQ(decode("ZEL_1#-5_TOOL").value, -5);
    EXPECT_EQ(consoleWindowTitle().toUtf8(), QByteArray("Zelkora\xe9\x87\x8f\xe4\xba\xa7\xe5\xb7\xa5\xe5\x85\xb7 v0.1.8"));
}

TEST(ReportPayload, DecodesWhatWasSentAndToleratesOddPayloads)
{
    const DecodedReport plain = decode("ZEL_2#1_TOOL");
    EXPECT_TRUE(plain.valid);
    EXPECT_EQ(plain.slotIndex, 2);
    EXPECT_EQ(plain.value, 1);

    const DecodedReport garbage = decode("ZEL_x#y_TOOL");
    EXPECT_TRUE(garbage.valid);
    EXPECT_EQ(garbage.slotIndex, 0);
    EXPECT_EQ(garbage.value, 0);

    const DecodedReport empty = decode("ZEL_#_TOOL");
    EXPECT_TRUE(empty.valid);
    EXPECT_EQ(empty.value, 0);

    // Everything after a NUL is ignored.
    const DecodedReport nul = decode(QByteArray("ZEL_4#77\0#99_TOOL", 17));
    EXPECT_EQ(nul.slotIndex, 4);
    EXPECT_EQ(nul.value, 77);

    // The markers are removed wherever they stand.
    const DecodedReport markers = decode("ZEL_ZEL_5#_TOOL6");
    EXPECT_EQ(markers.slotIndex, 5);
    EXPECT_EQ(markers.value, 6);
}

TEST(ReportPayload, WithoutHashNothingIsReadBeyondThePayload)
{
    EXPECT_FALSE(decode("ZEL_7_TOOL").valid);
    EXPECT_FALSE(decode("").valid);
    EXPECT_FALSE(decodeReportPayload(nullptr, 4).valid);
    // Only the first size bytes count, even when more follow in memory.
    const char buffer[] = "ZEL_1#2_TOOL";
    EXPECT_FALSE(decodeReportPayload(buffer, 5).valid);
    const DecodedReport cut = decodeReportPayload(buffer, 7);
    EXPECT_TRUE(cut.valid);
    EXPECT_EQ(cut.slotIndex, 1);
    EXPECT_EQ(cut.value, 2);
}

TEST(ReportPayload, ValuesAbove2GiBKeepTheirSize)
{
    // Progress of a 3 GiB image must not wrap or read as 0.
    const DecodedReport big = decode("ZEL_1#3221225472_TOOL");
    EXPECT_TRUE(big.valid);
    EXPECT_EQ(big.value, Q_INT64_C(3221225472));
}

TEST(TracePayload, CarriesAnyBytesAndRefusesWhatIsDamaged)
{
    QByteArray every;
    for (int b = 0; b < 256; ++b)
        every.append(static_cast<char>(b));
    const QByteArray sent = buildTracePayload(7, every);
    EXPECT_TRUE(sent.startsWith("ZEL_7#000102"));
    EXPECT_TRUE(sent.endsWith("fdfeff_TOOL"));
    const DecodedTrace read = decodeTracePayload(sent.constData(), sent.size());
    ASSERT_TRUE(read.valid);
    EXPECT_EQ(read.slotIndex, 7);
    EXPECT_EQ(read.bytes, every);
    // The longest trace a worker reports still fits a report record.
    EXPECT_LE(buildTracePayload(2147483647, QByteArray(kMaxTraceBytes, '\xff')).size(),
              int(kMaxReportPayload));

    // A damaged payload must not become some other board's identity.
    for (const QByteArray &bad :
         {QByteArray("ZEL_1#414_TOOL"), QByteArray("ZEL_1#41zz_TOOL"), QByteArray("ZEL_#41_TOOL"),
          QByteArray("ZEL_-1#41_TOOL"), QByteArray("ZEL_1#41"), QByteArray("1#41_TOOL"),
          QByteArray("ZEL_1_TOOL"), QByteArray("ZEL_1#41\0_TOOL", 15), QByteArray()}) {
        EXPECT_FALSE(decodeTracePayload(bad.constData(), bad.size()).valid) << bad.toStdString();
    }
    // Nothing past the size given is read.
    EXPECT_FALSE(decodeTracePayload("ZEL_1#41_TOOL", 9).valid);
}
