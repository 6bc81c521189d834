// The central history against a real PostgreSQL server: what arrives, how
// often, and what the station shows and keeps when the server will not take it.
#include "central_history.h"
#include "central_link.h"
#include "pg_server.h"
#include "trace_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <functional>

namespace
{

bool waitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

BurnTrace sampleBurn(int k)
{
    BurnTrace t;
    t.historyId = 100 + k;
    t.station = QStringLiteral("line-3 站");
    t.usbPort = QStringLiteral("1:%1").arg(k);
    t.boardTrace = QByteArray("SN-") + QByteArray::number(k) + QByteArray("\x00\xff", 2);
    t.imageFile = QStringLiteral("o'brien 固件.img");
    t.image.version = QStringLiteral("2.4.%1").arg(k);
    t.image.boardType = QStringLiteral("zk-evb");
    t.image.tableCrc = 0xF0000000u + static_cast<quint32>(k);
    t.beginTime = 1714990000 + k * 60;
    t.endTime = t.beginTime + 42;
    t.burnDate = QStringLiteral("2024-05-06");
    t.usedSeconds = 42;
    t.result = k % 2;
    if (t.result == 0)
        t.failureReason = QStringLiteral("Dev \"1:%1\" The burnning process has error!").arg(k);
    return t;
}

struct CentralRow {
    QString station, storeId, port, image, version, boardType, date, reason, received;
    QByteArray trace;
    bool traceNull = false;
    qint64 localId = 0, crc = 0, begin = 0, end = 0;
    int used = 0, result = 0;
};

QList<CentralRow> centralRows(const QString &url)
{
    CentralLink link(url);
    QList<CentralRow> rows;
    PgResult r = link.query(QStringLiteral(
        "SELECT station, store_id, local_id, usb_port, encode(board_trace, 'hex'),"
        " board_trace IS NULL, image_file, image_version, board_type, table_crc,"
        " extract(epoch FROM begin_time)::bigint, extract(epoch FROM end_time)::bigint,"
        " burn_date::text, used_seconds, result, failure_reason, received_at::text"
        " FROM veldmark_burn ORDER BY station, local_id"));
    EXPECT_TRUE(r) << link.error().toStdString();
    for (int i = 0; r && i < PQntuples(r.get()); ++i) {
        auto text = [&](int c) { return QString::fromUtf8(PQgetvalue(r.get(), i, c)); };
        CentralRow row;
        row.station = text(0);
        row.storeId = text(1);
        row.localId = text(2).toLongLong();
        row.port = text(3);
        row.trace = QByteArray::fromHex(text(4).toLatin1());
        row.traceNull = text(5) == QLatin1String("t");
        row.image = text(6);
        row.version = text(7);
        row.boardType = text(8);
        row.crc = text(9).toLongLong();
        row.begin = text(10).toLongLong();
        row.end = text(11).toLongLong();
        row.date = text(12);
        row.used = text(13).toInt();
        row.result = text(14).toInt();
        row.reason = text(15);
        row.received = text(16);
        rows.append(row);
    }
    return rows;
}

class CentralHistoryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("station"));
        db.setDatabaseName(m_dir.filePath(QStringLiteral("data.db")));
        ASSERT_TRUE(db.open());
        m_store = std::make_unique<TraceStore>(db);
        ASSERT_TRUE(m_store->isReady());
    }

    void TearDown() override
    {
        m_store.reset();
        QSqlDatabase::removeDatabase(QStringLiteral("station"));
    }

    // Records a burn as the burn page does, and tells the shipper.
    qint64 burn(CentralHistory &central, int k)
    {
        const qint64 id = m_store->record(sampleBurn(k));
        central.pickUp();
        return id;
    }

    static bool allShipped(const CentralHistory &central)
    {
        return central.waiting() == 0 && central.state() != CentralHistory::Error;
    }

    PgServer m_server;
    QTemporaryDir m_dir;
    std::unique_ptr<TraceStore> m_store;
};

} // namespace

TEST_F(CentralHistoryTest, EveryFieldArrivesOnceAndARowSentAgainChangesNothing)
{
    {
        CentralHistory central(m_store.get(), m_server.url());
        for (int k = 1; k <= 3; ++k)
            burn(central, k);
        // A board without trace information.
        BurnTrace bare = sampleBurn(4);
        bare.boardTrace.clear();
        m_store->record(bare);
        central.pickUp();
        ASSERT_TRUE(waitUntil([&] { return allShipped(central); }, 20000))
            << central.stateText().toStdString();
        EXPECT_EQ(m_store->unshippedCount(), 0);
    }
    const QList<CentralRow> first = centralRows(m_server.url());
    ASSERT_EQ(first.size(), 4);
    for (int k = 1; k <= 4; ++k) {
        SCOPED_TRACE(k);
        const BurnTrace want = sampleBurn(k);
        const CentralRow &got = first[k - 1];
        EXPECT_EQ(got.station, want.station);
        EXPECT_EQ(got.storeId, m_store->storeId());
        EXPECT_EQ(got.localId, k);
        EXPECT_EQ(got.port, want.usbPort);
        EXPECT_EQ(got.traceNull, k == 4);
        EXPECT_EQ(got.trace, k == 4 ? QByteArray() : want.boardTrace);
        EXPECT_EQ(got.image, want.imageFile);
        EXPECT_EQ(got.version, want.image.version);
        EXPECT_EQ(got.boardType, want.image.boardType);
        EXPECT_EQ(got.crc, qint64(want.image.tableCrc));
        EXPECT_EQ(got.begin, want.beginTime);
        EXPECT_EQ(got.end, want.endTime);
        EXPECT_EQ(got.date, want.burnDate);
        EXPECT_EQ(got.used, want.usedSeconds);
        EXPECT_EQ(got.result, want.result);
        EXPECT_EQ(got.reason, want.failureReason);
    }

    // A console killed after the server took the rows but before it noted
    // them sends them again at its next start.
    QSqlQuery unmark(QSqlDatabase::database(QStringLiteral("station")));
    ASSERT_TRUE(unmark.exec(QStringLiteral("UPDATE T_BURN_TRACE SET shipped = 0")));
    CentralHistory again(m_store.get(), m_server.url());
    EXPECT_EQ(again.waiting(), 4);
    burn(again, 5);
    ASSERT_TRUE(waitUntil([&] { return allShipped(again); }, 20000)) << again.stateText().toStdString();
    const QList<CentralRow> second = centralRows(m_server.url());
    ASSERT_EQ(second.size(), 5);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(second[i].localId, first[i].localId);
        EXPECT_EQ(second[i].received, first[i].received) << "the first copy stays as it was";
    }
    EXPECT_EQ(second[4].localId, 5);
}

TEST_F(CentralHistoryTest, ServerAwayForSixteenBurnsThenBackEveryRowArrivesOnceInOrder)
{
    CentralHistory central(m_store.get(), m_server.url());
    burn(central, 1);
    ASSERT_TRUE(waitUntil([&] { return allShipped(central); }, 20000));
    ASSERT_TRUE(m_server.stop()) << m_server.error().toStdString();

    QElapsedTimer gui;
    qint64 slowest = 0;
    for (int k = 2; k <= 17; ++k) {
        gui.start();
        burn(central, k);
        slowest = qMax(slowest, gui.elapsed());
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    EXPECT_LT(slowest, 1000) << "recording a burn waited for the server";
    ASSERT_TRUE(waitUntil([&] { return central.state() == CentralHistory::Error; }, 20000));
    EXPECT_EQ(central.waiting(), 16);
    EXPECT_TRUE(central.stateText().contains(QStringLiteral("16 条待发送")))
        << central.stateText().toStdString();
    EXPECT_FALSE(central.errorText().isEmpty());
    EXPECT_EQ(m_store->unshippedCount(), 16);

    ASSERT_TRUE(m_server.start()) << m_server.error().toStdString();
    ASSERT_TRUE(waitUntil([&] { return allShipped(central); }, 60000)) << central.stateText().toStdString();
    const QList<CentralRow> rows = centralRows(m_server.url());
    ASSERT_EQ(rows.size(), 17);
    for (int i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].localId, i + 1);
        if (i > 0) {
            EXPECT_LE(rows[i - 1].received, rows[i].received) << "shipped out of order";
        }
    }
    EXPECT_EQ(m_store->unshippedCount(), 0);
}

TEST_F(CentralHistoryTest, RefusedLoginIsShownAndTheRowsAreKept)
{
    CentralHistory central(m_store.get(), m_server.url(QStringLiteral("intruder")));
    for (int k = 1; k <= 3; ++k)
        burn(central, k);
    ASSERT_TRUE(waitUntil([&] { return central.state() == CentralHistory::Error; }, 20000));
    EXPECT_TRUE(central.errorText().contains(QStringLiteral("intruder"))) << central.errorText().toStdString();
    EXPECT_TRUE(central.stateText().contains(central.errorText()));
    EXPECT_TRUE(central.stateText().contains(QStringLiteral("3 条待发送")));
    EXPECT_EQ(m_store->unshippedCount(), 3);
    const QList<BurnTrace> kept = m_store->unshipped(0, 10);
    ASSERT_EQ(kept.size(), 3);
    EXPECT_EQ(kept[2].boardTrace, sampleBurn(3).boardTrace);

    // The server that refuses one login still takes the station's next one.
    CentralHistory fixed(m_store.get(), m_server.url());
    ASSERT_TRUE(waitUntil([&] { return allShipped(fixed); }, 20000)) << fixed.stateText().toStdString();
    EXPECT_EQ(centralRows(m_server.url()).size(), 3);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
