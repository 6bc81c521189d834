// Whole stations feeding one central history: real consoles (offscreen, each
// in its own folder with its own board farm and report channel) burning
// farm boards, a real PostgreSQL server, and the line report read back.
#include "central_link.h"
#include "farm_harness.h"
#include "image_builder.h"
#include "pg_server.h"
#include "vboard_host.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>

#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <zlib.h>

#include <functional>
#include <memory>

namespace
{

bool waitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QThread::msleep(100);
    return done();
}

zelimg::ImageDesc stationImage()
{
    zelimg::ImageDesc desc = emptyImage();
    desc.components.push_back(component("updater.spl", "spl", 0x200000, "run", patternBytes(6000, 1)));
    desc.components.push_back(component("updater.uboot", "uboot", 0x600000, "run", patternBytes(70000, 2)));
    desc.components.push_back(component("image.target.kernel", "kernel", 0, "burn", patternBytes(300000, 3)));
    return desc;
}

// One console in a folder of its own, with its own farm and report channel.
class Station
{
public:
    Station(const QString &name, const QString &url) : m_name(name)
    {
        QFile::setPermissions(m_runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ExeOwner);
        m_socket = m_runtime.filePath(QStringLiteral("farm.sock"));
        std::string error;
        const QString image = m_dir.filePath(QStringLiteral("line.img"));
        EXPECT_TRUE(zelimg::writeImage(stationImage(), image.toStdString(), &error)) << error;
        QFile ini(m_dir.filePath(QStringLiteral("Veldmark.ini")));
        EXPECT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[common]\nimage_path=%1\nmax_dev_count=8\ndev_column_count=2\n"
                                 "[station]\nname=%2\n[central]\nurl=\"%3\"\n")
                      .arg(image, name, url)
                      .toUtf8());
        ini.close();
        QProcess farm;
        farm.setProcessChannelMode(QProcess::MergedChannels);
        farm.start(QStringLiteral(VBOARD_FARM), {QStringLiteral("start"), QStringLiteral("--socket"), m_socket});
        EXPECT_TRUE(farm.waitForFinished(20000));
        EXPECT_EQ(farm.exitCode(), 0) << farm.readAll().toStdString();
    }

    ~Station()
    {
        stopConsole();
        std::string reply;
        vboard::farmCommand(m_socket.toStdString(), "stop", &reply);
    }

    void startConsole()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZEL_VBOARD_FARM"), m_socket);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        env.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(VUSB_DIR));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_console = std::make_unique<QProcess>();
        m_console->setProcessEnvironment(env);
        m_console->setWorkingDirectory(m_dir.path());
        m_console->setStandardOutputFile(m_dir.filePath(QStringLiteral("console.out")), QIODevice::Append);
        m_console->setStandardErrorFile(m_dir.filePath(QStringLiteral("console.out")), QIODevice::Append);
        m_console->start(QStringLiteral(VELDMARK), QStringList());
        ASSERT_TRUE(m_console->waitForStarted(10000));
        ASSERT_TRUE(waitUntil([&] { return mainLog().contains("Meta count:"); }, 30000))
            << "the console did not load its image";
        // The report socket appears just before the console starts watching
        // for boards; a board plugged before that would go unnoticed.
        ASSERT_TRUE(waitUntil(
            [&] { return QDir(m_runtime.path()).entryList(QDir::System | QDir::Files).size() > 1; }, 30000));
        QThread::msleep(500);
    }

    // Kills the console as a power cut would: nothing of it runs on.
    void killConsole()
    {
        m_console->kill();
        m_console->waitForFinished(10000);
        m_console.reset();
    }

    void stopConsole()
    {
        if (!m_console)
            return;
        m_console->terminate();
        if (!m_console->waitForFinished(30000))
            m_console->kill();
        m_console.reset();
    }

    void plug(int k, const QString &options = QString())
    {
        std::string reply;
        vboard::farmCommand(m_socket.toStdString(),
                            QStringLiteral("plug board 1:%1 restart_delay=200 traceinfo=%2-%1 %3")
                                .arg(k)
                                .arg(m_name, options)
                                .toStdString(),
                            &reply);
        ASSERT_EQ(reply.rfind("ok", 0), 0u) << reply;
    }

    void unplug(int k)
    {
        std::string reply;
        vboard::farmCommand(m_socket.toStdString(), QStringLiteral("unplug 1:%1").arg(k).toStdString(), &reply);
    }

    QByteArray consoleOutput() const
    {
        QFile out(m_dir.filePath(QStringLiteral("console.out")));
        std::string list;
        vboard::farmCommand(m_socket.toStdString(), "list", &list);
        return (out.open(QIODevice::ReadOnly) ? out.readAll() : QByteArray()) + "\nfarm:\n" +
               QByteArray::fromStdString(list);
    }

    QByteArray mainLog() const
    {
        QFile log(m_dir.filePath(QStringLiteral("log/%1/main.log")
                                     .arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")))));
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }

    // Rows of the station's own trace table, and how many are not shipped;
    // -1 while the console holds the file locked.
    std::pair<int, int> localRows() const
    {
        const QString name = QStringLiteral("reader-") + m_name;
        std::pair<int, int> counts{-1, -1};
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(m_dir.filePath(QStringLiteral("data.db")));
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
            QSqlQuery query(db);
            if (db.open() &&
                query.exec(QStringLiteral("SELECT COUNT(*), COALESCE(SUM(shipped = 0), 0) FROM T_BURN_TRACE")) &&
                query.next())
                counts = {query.value(0).toInt(), query.value(1).toInt()};
        }
        QSqlDatabase::removeDatabase(name);
        return counts;
    }

    QString name() const { return m_name; }
    QString imagePath() const { return m_dir.filePath(QStringLiteral("line.img")); }

private:
    QString m_name;
    QTemporaryDir m_dir;
    QTemporaryDir m_runtime;
    QString m_socket;
    std::unique_ptr<QProcess> m_console;
};

class CentralStations : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_server.start()) << m_server.error().toStdString(); }

    // station|local id|port|trace text per central row, in that order.
    QStringList centralRows()
    {
        CentralLink link(m_server.url());
        QStringList rows;
        PgResult r = link.query(QStringLiteral(
            "SELECT station, local_id, usb_port, convert_from(board_trace, 'UTF8'), result"
            " FROM veldmark_burn ORDER BY station, local_id"));
        for (int i = 0; r && i < PQntuples(r.get()); ++i) {
            QStringList cells;
            for (int c = 0; c < PQnfields(r.get()); ++c)
                cells.append(QString::fromUtf8(PQgetvalue(r.get(), i, c)));
            rows.append(cells.join(QLatin1Char('|')));
        }
        return rows;
    }

    QByteArray zelline(const QStringList &args)
    {
        QProcess tool;
        tool.start(QStringLiteral(ZELLINE), QStringList{QStringLiteral("--url"), m_server.url(),
                                                        QStringLiteral("--csv")} + args);
        EXPECT_TRUE(tool.waitForFinished(30000));
        EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
        return tool.readAllStandardOutput();
    }

    PgServer m_server;
};

} // namespace

TEST_F(CentralStations, ConsoleKilledMidSendLosesAndDoublesNothing)
{
    // The table is created beforehand so that the test can hold a lock on it:
    // the console's insert then waits inside the server until the kill.
    CentralLink schema(m_server.url());
    ASSERT_TRUE(schema.open()) << schema.error().toStdString();
    schema.close();
    PGconn *blocker = PQconnectdb(m_server.url().toUtf8().constData());
    ASSERT_EQ(PQstatus(blocker), CONNECTION_OK);
    PQclear(PQexec(blocker, "BEGIN; LOCK TABLE veldmark_burn IN SHARE MODE"));

    Station station(QStringLiteral("A"), m_server.url());
    station.startConsole();
    for (int k = 1; k <= 4; ++k)
        station.plug(k);
    ASSERT_TRUE(waitUntil([&] { return station.localRows().first == 4; }, 120000))
        << station.localRows().first << "\n" << station.consoleOutput().right(3000).toStdString();
    // The console's insert is stuck on the lock: it is mid-send.
    CentralLink watch(m_server.url());
    ASSERT_TRUE(waitUntil(
        [&] {
            PgResult r = watch.query(QStringLiteral(
                "SELECT 1 FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND query LIKE 'INSERT%'"));
            return r && PQntuples(r.get()) > 0;
        },
        30000));
    station.killConsole();
    PQclear(PQexec(blocker, "ROLLBACK"));
    PQfinish(blocker);
    EXPECT_EQ(station.localRows(), std::make_pair(4, 4));
    // Not burned again by the next start.
    for (int k = 1; k <= 4; ++k)
        station.unplug(k);

    station.startConsole();
    ASSERT_TRUE(waitUntil([&] { return station.localRows() == std::make_pair(4, 0); }, 60000));
    const QStringList rows = centralRows();
    ASSERT_EQ(rows.size(), 4) << rows.join(QLatin1Char(' ')).toStdString();
    QStringList traces;
    for (int k = 0; k < 4; ++k) {
        const QStringList cells = rows[k].split(QLatin1Char('|'));
        EXPECT_EQ(cells[1].toInt(), k + 1);
        traces.append(cells[3]);
        EXPECT_EQ(cells[3], QStringLiteral("A-") + cells[2].section(QLatin1Char(':'), 1));
    }
    traces.removeDuplicates();
    EXPECT_EQ(traces.size(), 4);
}

TEST_F(CentralStations, TwoStationsFeedOneDatabaseAndTheLineReportAddsUp)
{
    Station a(QStringLiteral("A"), m_server.url());
    Station b(QStringLiteral("B"), m_server.url());
    a.startConsole();
    b.startConsole();
    // One board of each station answers block size 0 to its first component.
    for (int k = 1; k <= 8; ++k) {
        a.plug(k, k == 3 ? QStringLiteral("block=0") : QString());
        b.plug(k, k == 5 ? QStringLiteral("block=0") : QString());
    }
    ASSERT_TRUE(waitUntil([&] { return a.localRows() == std::make_pair(8, 0) && b.localRows() == std::make_pair(8, 0); },
                          180000))
        << a.localRows().first << " " << b.localRows().first;
    const QStringList rows = centralRows();
    ASSERT_EQ(rows.size(), 16);
    for (const QString &row : rows) {
        const QStringList cells = row.split(QLatin1Char('|'));
        const QString port = cells[2].section(QLatin1Char(':'), 1);
        EXPECT_EQ(cells[3], cells[0] + QLatin1Char('-') + port) << row.toStdString();
        const bool failing = (cells[0] == QLatin1String("A") && port == QLatin1String("3")) ||
                             (cells[0] == QLatin1String("B") && port == QLatin1String("5"));
        EXPECT_EQ(cells[4], failing ? QStringLiteral("0") : QStringLiteral("1")) << row.toStdString();
    }

    // The image by its identity: the header's version and board type, and
    // the CRC-32 of its FWC table (three 512-byte entries from offset 2048).
    QFile image(a.imagePath());
    ASSERT_TRUE(image.open(QIODevice::ReadOnly));
    image.seek(2048);
    const QByteArray table = image.read(3 * 512);
    const quint32 crc = static_cast<quint32>(
        crc32(0L, reinterpret_cast<const Bytef *>(table.constData()), static_cast<uInt>(table.size())));
    CentralLink link(m_server.url());
    PgResult images = link.query(QStringLiteral(
        "SELECT DISTINCT image_version, board_type, table_crc, image_file FROM veldmark_burn"));
    ASSERT_TRUE(images && PQntuples(images.get()) == 1);
    EXPECT_STREQ(PQgetvalue(images.get(), 0, 0), "1.0");
    EXPECT_STREQ(PQgetvalue(images.get(), 0, 1), "e2e");
    EXPECT_EQ(QByteArray(PQgetvalue(images.get(), 0, 2)).toUInt(), crc);
    EXPECT_STREQ(PQgetvalue(images.get(), 0, 3), "line.img");

    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const QList<QByteArray> yield = zelline({QStringLiteral("yield"), today, today}).split('\n');
    ASSERT_GE(yield.size(), 3);
    EXPECT_EQ(yield[0].trimmed(), "day,station,board type,version,table crc,image file,burns,passed,failed,yield %");
    for (int i = 1; i <= 2; ++i) {
        const QList<QByteArray> cells = yield[i].trimmed().split(',');
        ASSERT_EQ(cells.size(), 10) << yield[i].toStdString();
        EXPECT_EQ(cells[0], today.toUtf8());
        EXPECT_EQ(cells[1], i == 1 ? "A" : "B");
        EXPECT_EQ(cells[5], "line.img");
        EXPECT_EQ(cells.mid(6), (QList<QByteArray>{"8", "7", "1", "87.5"}));
    }
    EXPECT_EQ(yield.size(), 4) << "one line per station, then the empty end";

    const QList<QByteArray> failures = zelline({QStringLiteral("failures")}).trimmed().split('\n');
    ASSERT_EQ(failures.size(), 3);
    QStringList failed;
    for (int i = 1; i < failures.size(); ++i) {
        const QStringList cells = QString::fromUtf8(failures[i].trimmed()).split(QLatin1Char(','));
        ASSERT_GE(cells.size(), 8);
        failed.append(cells[3]);
        EXPECT_TRUE(cells.mid(7).join(QLatin1Char(',')).contains(QStringLiteral("Failed to send the meta information!")))
            << failures[i].toStdString();
    }
    failed.sort();
    EXPECT_EQ(failed, (QStringList{QStringLiteral("A-3"), QStringLiteral("B-5")}));

    const QList<QByteArray> board = zelline({QStringLiteral("board"), QStringLiteral("B-5")}).trimmed().split('\n');
    ASSERT_EQ(board.size(), 2);
    EXPECT_TRUE(board[1].contains(",B,1:5,line.img,")) << board[1].toStdString();
    EXPECT_TRUE(board[1].contains(",failed,"));
    // The same board asked for by its bytes in hex.
    EXPECT_EQ(zelline({QStringLiteral("board"), QStringLiteral("0x422d35")}).trimmed().split('\n'), board);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
