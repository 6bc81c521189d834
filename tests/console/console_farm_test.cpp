// The real console window (offscreen) burning boards of a board farm with the
// real ZelBurner workers, as an operator would use it.
#include "burn_counters.h"
#include "burn_session.h"
#include "burn_tab.h"
#include "farm_harness.h"
#include "history_database.h"
#include "history_tab.h"
#include "report_channel.h"
#include "report_endpoint_posix.h"
#include "report_protocol.h"
#include "settings_store.h"
#include "single_instance.h"
#include "veldmark.h"

#include "../zelui/modal_answerer.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>
#include <unistd.h>

namespace
{

QString g_workDir; // the console's working directory, one per process

bool waitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// Loader stages (the board restarts after them), two targets and the environment.
zelimg::ImageDesc sampleImage()
{
    zelimg::ImageDesc desc = emptyImage();
    desc.components.push_back(
        component("updater.spl", "spl", 0x200000, "run", patternBytes(6000, 1)));
    desc.components.push_back(
        component("updater.uboot", "uboot", 0x600000, "run", patternBytes(70000, 2)));
    desc.components.push_back(
        component("image.target.kernel", "kernel", 0, "burn", patternBytes(300000, 3)));
    desc.components.push_back(zelimg::envComponent("4m(kernel),-(rootfs)"));
    desc.components.push_back(
        component("image.target.rootfs", "rootfs", 0, "burn", patternBytes(200000, 4)));
    return desc;
}

// Process ids of this process's workers burning the board at port; with an
// empty port, of all its child processes, ended ones not yet reaped included.
QList<pid_t> workerPids(const QString &port = QString())
{
    QList<pid_t> pids;
    const QByteArray needle = QByteArray("-d") + '\0' + port.toLatin1() + '\0';
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!stat.open(QIODevice::ReadOnly) || !cmdline.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ..."
        const QByteArray fields = stat.readAll();
        const QList<QByteArray> rest = fields.mid(fields.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && rest.at(1).toInt() == getpid() &&
            (port.isEmpty() || cmdline.readAll().contains(needle)))
            pids.append(pid);
    }
    return pids;
}

QList<HistoryRecord> historyOf(const QString &port)
{
    QList<HistoryRecord> rows;
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    for (const HistoryRecord &r : HistoryDatabase::instance()->historyOfDate(today)) {
        if (r.usbPort == port)
            rows.append(r);
    }
    return rows;
}

// FWCs the farm's board at port received and how often it restarted.
std::pair<int, int> fwcsAndRestarts(const std::string &reply)
{
    const QString text = QString::fromStdString(reply);
    const auto fwcs = QRegularExpression(QStringLiteral(" fwcs=(\\d+)")).match(text);
    const auto restarts = QRegularExpression(QStringLiteral(" restarts=(\\d+)")).match(text);
    return {fwcs.captured(1).toInt(), restarts.captured(1).toInt()};
}

int addressOf(const std::string &reply)
{
    const QString text = QString::fromStdString(reply);
    return QRegularExpression(QStringLiteral(" addr=(\\d+)")).match(text).captured(1).toInt();
}

// Process ids of every ZelBurner burning the board at port, whoever started it.
QList<pid_t> burnersAt(const QString &port)
{
    QList<pid_t> pids;
    const QByteArray needle = QByteArray("-d") + '\0' + port.toLatin1() + '\0';
    // Other tests burn boards of the same names at the same time: only the
    // workers of this test's consoles run in its folder.
    const QString folder = QDir(g_workDir).canonicalPath();
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = entry.toInt(&number);
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!number || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray args = cmdline.readAll();
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        // An ended process not yet reaped burns nothing.
        const bool zombie = stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z ");
        if (args.contains("ZelBurner") && args.contains(needle) && !zombie &&
            QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(entry)) == folder)
            pids.append(pid);
    }
    return pids;
}

// Today's rows that lack a port or an image name.
int rowsWithoutPortOrImage()
{
    int rows = 0;
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    for (const HistoryRecord &r : HistoryDatabase::instance()->historyOfDate(today))
        rows += r.usbPort.isEmpty() || r.imageFile.isEmpty();
    return rows;
}

// How often the board at port received each component whole.
QMap<QString, int> completeFwcs(const std::vector<BoardFwc> &fwcs)
{
    QMap<QString, int> counts;
    for (const BoardFwc &f : fwcs)
        counts[QString::fromStdString(f.name)] += f.complete;
    return counts;
}

} // namespace

class ConsoleFarm : public FarmTest
{
protected:
    void SetUp() override
    {
        FarmTest::SetUp();
        qputenv("ZEL_VBOARD_FARM", m_socket.toUtf8());
        qputenv("LD_LIBRARY_PATH", QByteArray(VUSB_DIR));
        m_store = SettingsStore::instance();
        m_store->setMaxDevCount(16);
        m_store->setPortMapping({});
        m_total = m_store->totalCount();
        m_successes = m_store->successCount();
        m_failures = m_store->failCount();
    }

    void TearDown() override
    {
        // Workers that still run would outlive the test and its farm.
        if (m_window) {
            EXPECT_TRUE(waitUntil(workersEnded, 30000));
        }
        m_window.reset();
        m_instance.reset();
        // Ended workers' process objects go with the next event loop; this test has none.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (QProcess *console : m_otherConsoles) {
            console->kill();
            console->waitForFinished(10000);
        }
        qDeleteAll(m_otherConsoles);
        FarmTest::TearDown();
    }

    void startConsole(const QString &image)
    {
        m_store->setImagePath(image);
        // As the program does before it opens its window.
        m_instance = std::make_unique<SingleInstance>();
        ASSERT_TRUE(m_instance->acquire()) << m_instance->errorString().toStdString();
        m_window = std::make_unique<Veldmark>();
        m_window->show();
        m_tab = m_window->findChild<BurnTab *>();
        m_session = m_tab->session();
        m_states.assign(m_session->slotCount(), {});
        QObject::connect(m_session, &BurnSession::slotChanged, [this](int slot) {
            const SlotRecord &r = m_session->slot(slot);
            if (m_states[slot].isEmpty() || m_states[slot].last().first != r.state)
                m_states[slot].append({r.state, r.portText});
        });
    }

    // True once every worker has ended and the console has seen it end.
    static bool workersEnded()
    {
        if (!workerPids().isEmpty())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        return true;
    }

    bool waitForState(int slot, int state, int ms = 60000)
    {
        return waitUntil([&] { return m_session->slot(slot).state == state; }, ms);
    }

    void plug(const QString &port, const QString &options = QStringLiteral("restart_delay=200"))
    {
        ASSERT_EQ(farm(QStringLiteral("plug board %1 %2").arg(port, options).toStdString())
                      .rfind("ok", 0),
                  0u);
    }

    // The real console program, offscreen, in folder; its settings are this
    // console's. Ended, if still running, with the test.
    QProcess *startConsoleProgram(const QString &folder)
    {
        if (folder != g_workDir) {
            QFile::remove(QDir(folder).filePath(QStringLiteral("Veldmark.ini")));
            QFile::copy(QDir(g_workDir).filePath(QStringLiteral("Veldmark.ini")),
                        QDir(folder).filePath(QStringLiteral("Veldmark.ini")));
        }
        auto *console = new QProcess;
        m_otherConsoles.append(console);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        console->setProcessEnvironment(env);
        console->setWorkingDirectory(folder);
        console->start(QStringLiteral(VELDMARK), QStringList());
        EXPECT_TRUE(console->waitForStarted(10000));
        return console;
    }

    SettingsStore *m_store = nullptr;
    std::unique_ptr<SingleInstance> m_instance;
    QList<QProcess *> m_otherConsoles;
    std::unique_ptr<Veldmark> m_window;
    BurnTab *m_tab = nullptr;
    BurnSession *m_session = nullptr;
    std::vector<QList<QPair<int, QString>>> m_states; // each slot's states, with the port shown
    int m_total = 0, m_successes = 0, m_failures = 0;
    BurnCounters::Counts counted() const { return m_session->counters()->counts(); }
};

TEST_F(ConsoleFarm, SixteenBoardsPluggedInWavesAreEachBurnedOnceAndRecorded)
{
    startFarm({});
    const QString image = writeImage(sampleImage());
    const qint64 begin = QDateTime::currentSecsSinceEpoch();
    startConsole(image);
    ASSERT_EQ(m_session->slotCount(), 16);

    // The operator exports every day while the boards burn.
    auto *history = m_window->findChild<HistoryTab *>();
    QSignalSpy exported(history, &HistoryTab::exportFinished);

    // Each wave arrives while the one before still burns: every arrival is a
    // rescan during other burns, which must start nothing new for them.
    for (int wave = 0; wave < 4; ++wave) {
        for (int k = wave * 4 + 1; k <= wave * 4 + 4; ++k)
            plug(QStringLiteral("1:%1").arg(k));
        if (wave == 1) {
            ASSERT_TRUE(history->startExport(QStringLiteral("during.csv"), true));
        }
        ASSERT_TRUE(waitUntil(
            [&] {
                for (int slot = wave * 4; slot < wave * 4 + 4; ++slot) {
                    const int state = m_session->slot(slot).state;
                    if (state == SlotDisconnected || state == SlotLinked)
                        return false;
                }
                return true;
            },
            60000))
            << "wave " << wave;
    }
    for (int slot = 0; slot < 16; ++slot)
        ASSERT_TRUE(waitForState(slot, SlotSucceeded, 120000)) << "slot " << slot;
    ASSERT_TRUE(waitUntil(workersEnded, 30000));
    const qint64 end = QDateTime::currentSecsSinceEpoch();

    const QString date = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    for (int slot = 0; slot < 16; ++slot) {
        const QString port = QStringLiteral("1:%1").arg(slot + 1);
        SCOPED_TRACE(port.toStdString());
        EXPECT_EQ(m_session->slot(slot).portText, port);
        // Through the restart between loader stages the slot kept its board.
        const QList<QPair<int, QString>> &states = m_states[slot];
        ASSERT_FALSE(states.isEmpty());
        EXPECT_EQ(states.first().first, SlotLinked);
        EXPECT_EQ(states.last().first, SlotSucceeded);
        bool waited = false;
        for (const auto &s : states) {
            waited |= s.first == SlotWaitingReboot;
            EXPECT_EQ(s.second, port);
        }
        EXPECT_TRUE(waited);

        const std::pair<int, int> burned = fwcsAndRestarts(farm("state " + port.toStdString()));
        EXPECT_EQ(burned.first, 5) << "a board burned more than once gets more components";
        EXPECT_EQ(burned.second, 1);

        const QList<HistoryRecord> rows = historyOf(port);
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows[0].imageFile, QStringLiteral("image.img"));
        EXPECT_EQ(rows[0].result, 1);
        const qint64 started = rows[0].beginTime.toSecsSinceEpoch();
        EXPECT_GE(started, begin);
        EXPECT_LE(started + rows[0].usedSeconds, end);
        // The history tab finds the burn's log by port and start time.
        QString dir = port;
        dir.replace(QLatin1Char(':'), QLatin1Char('#'));
        QFile log(QStringLiteral("%1/log/%2/%3/%4.log").arg(g_workDir, date, dir).arg(started));
        ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << log.fileName().toStdString();
        EXPECT_TRUE(
            log.readAll().contains(QStringLiteral("Burn \"%1\" successfully!").arg(port).toUtf8()));
    }

    ASSERT_TRUE(exported.count() == 1 || exported.wait(30000));
    EXPECT_TRUE(exported.first().first().toBool());
    // Afterwards the export holds every burn.
    ASSERT_TRUE(history->startExport(QStringLiteral("after.csv"), true));
    ASSERT_TRUE(exported.wait(30000));
    EXPECT_TRUE(exported.last().first().toBool());
    QFile csv(QStringLiteral("after.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QByteArray lines = csv.readAll();
    for (int k = 1; k <= 16; ++k)
        EXPECT_TRUE(lines.contains(QStringLiteral("\r\n1:%1,image.img,").arg(k).toUtf8())) << k;

    // Counters on disk; the image button is back once idle.
    m_session->counters()->flush();
    QSettings ini(QDir(g_workDir).filePath(QStringLiteral("Veldmark.ini")), QSettings::IniFormat);
    EXPECT_EQ(ini.value(QStringLiteral("statistic/total_count")).toInt(), m_total + 16);
    EXPECT_EQ(ini.value(QStringLiteral("statistic/success_count")).toInt(), m_successes + 16);
    EXPECT_EQ(ini.value(QStringLiteral("statistic/fail_count")).toInt(), m_failures);
    auto *select = m_window->findChild<QPushButton *>(QStringLiteral("select_btn"));
    EXPECT_TRUE(waitUntil([select] { return select->isEnabled(); }, 3000));

    // The port map is written back whole when the console ends.
    EXPECT_TRUE(m_window->close());
    m_window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const PortMapping map = m_store->portMapping();
    EXPECT_EQ(map.size(), 16);
    EXPECT_EQ(map.value(QStringLiteral("1:16")), 15);
}

TEST_F(ConsoleFarm, UnpluggedOrKilledMidBurnEndsFailedAndTheConsoleThenCloses)
{
    startFarm({});
    startConsole(writeImage(sampleImage()));

    // Pulled out during the first target component.
    plug(QStringLiteral("2:1"));
    farm("fault 2:1 nodev bytes=120000");
    ASSERT_TRUE(waitUntil(
        [this] {
            return m_states[0].contains({SlotFailed, QStringLiteral("2:1")});
        },
        60000));
    // Once its worker has ended, the board's absence empties the slot.
    EXPECT_TRUE(waitForState(0, SlotDisconnected, 10000));
    ASSERT_EQ(historyOf(QStringLiteral("2:1")).size(), 1);
    EXPECT_EQ(historyOf(QStringLiteral("2:1"))[0].result, 0);

    // A worker killed while its board restarts slowly.
    plug(QStringLiteral("2:2"));
    farm("fault 2:2 late value=8000");
    ASSERT_TRUE(waitForState(1, SlotWaitingReboot));
    {
        ModalAnswerer answer(QStringLiteral("ok_btn"));
        EXPECT_FALSE(m_window->close());
        EXPECT_TRUE(answer.answered());
        EXPECT_EQ(answer.text(), QStringLiteral("正在烧写设备，无法关闭程序"));
    }
    const QList<pid_t> pids = workerPids(QStringLiteral("2:2"));
    ASSERT_EQ(pids.size(), 1);
    ::kill(pids[0], SIGKILL);
    // Shown once its row is stored and on the disk.
    ASSERT_TRUE(waitUntil(
        [this] { return m_states[1].contains({SlotFailed, QStringLiteral("2:2")}); }, 10000));
    // Its board is still off the bus, restarting: the slot is emptied for it.
    EXPECT_TRUE(waitForState(1, SlotDisconnected, 10000));
    ASSERT_EQ(historyOf(QStringLiteral("2:2")).size(), 1);
    EXPECT_EQ(historyOf(QStringLiteral("2:2"))[0].result, 0);
    EXPECT_EQ(counted().total, m_total + 2);
    EXPECT_EQ(counted().failed, m_failures + 2);
    EXPECT_TRUE(m_tab->isIdle());
    EXPECT_TRUE(m_window->close());
}

TEST_F(ConsoleFarm, BoardsWaitForAUsableImageAndBurnOnceItIsLoaded)
{
    startFarm({});
    const QString first = writeImage(sampleImage(), QStringLiteral("first.img"));
    startConsole(QString());
    auto *path = m_window->findChild<QLineEdit *>(QStringLiteral("img_path"));

    // Before any image: the board is shown and waits.
    plug(QStringLiteral("3:1"));
    ASSERT_TRUE(waitForState(0, SlotLinked, 10000));
    m_tab->loadImage(first);
    ASSERT_TRUE(waitForState(0, SlotSucceeded));

    // The selected image deleted: red path field, no worker, the board waits.
    QFile::remove(first);
    plug(QStringLiteral("3:2"));
    ASSERT_TRUE(waitForState(1, SlotLinked, 10000));
    EXPECT_EQ(path->styleSheet(), QStringLiteral("color: red;"));
    EXPECT_EQ(path->toolTip(), QStringLiteral("镜像文件不存在或已被删除，请重新选择镜像文件"));
    QTest::qWait(500);
    EXPECT_TRUE(workerPids(QStringLiteral("3:2")).isEmpty());
    EXPECT_EQ(m_session->slot(1).state, SlotLinked);

    // An image in a folder with blanks and Chinese characters.
    ASSERT_TRUE(QDir(m_work.path()).mkpath(QStringLiteral("新 镜像")));
    const QString second = writeImage(sampleImage(), QStringLiteral("新 镜像/量产 v2.img"));
    m_tab->loadImage(second);
    ASSERT_TRUE(waitForState(1, SlotSucceeded));
    EXPECT_TRUE(path->styleSheet().isEmpty());
    EXPECT_EQ(path->text(), second);
    ASSERT_EQ(historyOf(QStringLiteral("3:2")).size(), 1);
    EXPECT_EQ(historyOf(QStringLiteral("3:2"))[0].imageFile, QStringLiteral("量产 v2.img"));
    // The first board was not burned a second time by the new image.
    EXPECT_EQ(historyOf(QStringLiteral("3:1")).size(), 1);
    EXPECT_EQ(fwcsAndRestarts(farm("state 3:1")).first, 5);
}

// A board pulled and another plugged at its port while the console does not
// run: both changes reach it in one listing, with the same port text.
TEST_F(ConsoleFarm, ABoardSwappedAtAPortWhileTheConsoleStallsIsBurnedAsANewBoard)
{
    startFarm({});
    startConsole(writeImage(sampleImage()));
    plug(QStringLiteral("4:1"));
    ASSERT_TRUE(waitForState(0, SlotSucceeded));
    ASSERT_TRUE(waitUntil(workersEnded, 30000));
    const int firstAddress = addressOf(farm("state 4:1"));

    // No event is handled for a second, as in a console stopped or busy.
    ASSERT_EQ(farm("remove 4:1").rfind("ok", 0), 0u);
    plug(QStringLiteral("4:1"));
    ::usleep(1000 * 1000);
    // Told apart only by its address, which a real bus gives anew too.
    ASSERT_NE(addressOf(farm("state 4:1")), firstAddress);

    ASSERT_TRUE(waitUntil([this] { return historyOf(QStringLiteral("4:1")).size() == 2; }, 60000));
    ASSERT_TRUE(waitForState(0, SlotSucceeded));
    EXPECT_EQ(fwcsAndRestarts(farm("state 4:1")), std::make_pair(5, 1));
    EXPECT_EQ(historyOf(QStringLiteral("4:1"))[1].result, 1);
    EXPECT_EQ(counted().succeeded, m_successes + 2);
}

// A worker that has started but not reported yet leaves its slot Linked:
// the console is still busy, whatever the slot shows.
TEST_F(ConsoleFarm, ASlotWhoseWorkerStartedRefusesCloseAndImageChangeUntilItEnds)
{
    startFarm({});
    const QString image = writeImage(sampleImage());
    const QString other = writeImage(sampleImage(), QStringLiteral("other.img"));
    startConsole(image);
    // The board leaves the worker's first transfer unanswered for seconds: the
    // worker runs and has nothing to report yet, so the slot stays Linked.
    plug(QStringLiteral("5:1"), QStringLiteral("timeout_cap=3000"));
    ASSERT_EQ(farm("fault 5:1 timeout").rfind("ok", 0), 0u);
    ASSERT_TRUE(waitUntil([] { return !workerPids().isEmpty(); }, 10000));
    ASSERT_EQ(m_session->slot(0).state, SlotLinked);
    {
        ModalAnswerer answer(QStringLiteral("ok_btn"));
        EXPECT_FALSE(m_window->close());
        EXPECT_TRUE(answer.answered());
    }
    EXPECT_FALSE(m_tab->isIdle());
    m_tab->loadImage(other);
    EXPECT_EQ(m_session->imagePath(), image);

    ASSERT_TRUE(waitUntil(
        [this] {
            const int state = m_session->slot(0).state;
            return state == SlotSucceeded || state == SlotFailed;
        },
        60000));
    ASSERT_TRUE(waitUntil(workersEnded, 30000));
    EXPECT_TRUE(m_tab->isIdle());
    EXPECT_TRUE(m_window->close());
}

// Boards plugged before the console starts announce nothing: they are found
// at start-up, also with a column count no grid has. A board that cannot be
// opened is named on the burn page with what to do about it.
TEST_F(ConsoleFarm, BoardsPresentAtStartAreBurnedAndOneThatCannotBeOpenedIsNamed)
{
    startFarm({});
    const QString image = writeImage(sampleImage());
    m_store->setValue(QStringLiteral("common"), QStringLiteral("dev_column_count"),
                      QStringLiteral("-1"));
    plug(QStringLiteral("6:1"));
    plug(QStringLiteral("6:2"));
    plug(QStringLiteral("6:3"), QStringLiteral("access=denied"));
    startConsole(image);

    for (int slot : {0, 1})
        ASSERT_TRUE(waitForState(slot, SlotSucceeded)) << "slot " << slot;
    ASSERT_TRUE(waitUntil(workersEnded, 30000));
    for (const char *port : {"6:1", "6:2"}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(historyOf(QString::fromLatin1(port)).size(), 1);
        EXPECT_EQ(fwcsAndRestarts(farm(std::string("state ") + port)).first, 5);
    }
    EXPECT_EQ(m_session->slot(2).state, SlotDisconnected);
    EXPECT_TRUE(historyOf(QStringLiteral("6:3")).isEmpty());
    auto *refused = m_window->findChild<QLabel *>(QStringLiteral("refused_boards"));
    ASSERT_NE(refused, nullptr);
    EXPECT_TRUE(refused->isVisible());
    EXPECT_TRUE(refused->text().contains(QStringLiteral("6:3")));
    EXPECT_TRUE(refused->text().contains(QStringLiteral("70-veldmark.rules")));
    EXPECT_EQ(m_store->devColumnCount(), 2);

    // Once gone, it is no longer named.
    ASSERT_EQ(farm("remove 6:3").rfind("ok", 0), 0u);
    EXPECT_TRUE(waitUntil([refused] { return !refused->isVisible(); }, 10000));
}

TEST_F(ConsoleFarm, ASecondConsoleInTheSameOrAnotherFolderIsRefusedAndEveryBoardIsBurnedOnce)
{
    startFarm({});
    startConsole(writeImage(sampleImage()));
    QTemporaryDir otherFolder;
    ASSERT_TRUE(otherFolder.isValid());
    const QStringList folders{g_workDir, otherFolder.path()};
    for (int round = 0; round < folders.size(); ++round) {
        SCOPED_TRACE(folders[round].toStdString());
        QProcess *second = startConsoleProgram(folders[round]);
        // Time to set up a burn page, had it gone on.
        waitUntil([second] { return second->state() == QProcess::NotRunning; }, 3000);
        // Boards arrive while the second console would be up.
        for (int k = round * 3 + 1; k <= round * 3 + 3; ++k)
            plug(QStringLiteral("4:%1").arg(k), QStringLiteral("restart_delay=1000"));
        for (int slot = round * 3; slot < round * 3 + 3; ++slot)
            ASSERT_TRUE(waitForState(slot, SlotSucceeded)) << "slot " << slot;
        ASSERT_TRUE(waitUntil([second] { return second->state() == QProcess::NotRunning; }, 20000))
            << "the second console still runs";
        EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second->exitCode(), 2);
        const QString said = QString::fromUtf8(second->readAllStandardError());
        EXPECT_TRUE(said.contains(QStringLiteral("another console already runs (folder \"%1\", pid %2)")
                                      .arg(g_workDir)
                                      .arg(QCoreApplication::applicationPid())))
            << said.toStdString();
    }
    ASSERT_TRUE(waitUntil(workersEnded, 30000));
    // A second console that had burned too would have restarted the boards again.
    QTest::qWait(1500);
    for (int k = 1; k <= 6; ++k) {
        const QString port = QStringLiteral("4:%1").arg(k);
        SCOPED_TRACE(port.toStdString());
        EXPECT_EQ(fwcsAndRestarts(farm("state " + port.toStdString())), std::make_pair(5, 1));
        ASSERT_EQ(historyOf(port).size(), 1);
        EXPECT_EQ(historyOf(port)[0].result, 1);
    }
    EXPECT_EQ(counted().total, m_total + 6);
    EXPECT_EQ(counted().succeeded, m_successes + 6);
}

TEST_F(ConsoleFarm, AConsoleKilledDuringALoaderRestartTakesItsWorkersAlongAndTheNextBurnsEachBoardOnce)
{
    startFarm({});
    const QString image = writeImage(sampleImage());
    m_store->setImagePath(image);
    QProcess *first = startConsoleProgram(g_workDir);
    // Its report socket is there once it watches for boards.
    ASSERT_TRUE(waitUntil([] { return QFile::exists(QString::fromLocal8Bit(reportSocketPath(consoleWindowTitle()))); },
                          20000));
    const QStringList ports{QStringLiteral("5:1"), QStringLiteral("5:2"), QStringLiteral("5:3")};
    // Long enough a restart for the next console to be up when the boards return.
    for (const QString &port : ports)
        plug(port, QStringLiteral("restart_delay=6000"));
    for (const QString &port : ports)
        ASSERT_TRUE(waitUntil([&] { return fwcsAndRestarts(farm("state " + port.toStdString())).second == 1; },
                              60000))
            << port.toStdString();
    ASSERT_EQ(burnersAt(ports[0]).size(), 1);
    ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
    ASSERT_TRUE(waitUntil([first] { return first->state() == QProcess::NotRunning; }, 10000));
    // Its workers end with it, before their boards are back.
    for (const QString &port : ports)
        EXPECT_TRUE(waitUntil([&] { return burnersAt(port).isEmpty(); }, 3000)) << port.toStdString();
    // Read only now: this process's reading would hold the first console's database.
    const int orphanRowsBefore = rowsWithoutPortOrImage();

    startConsole(image);
    for (int slot = 0; slot < 3; ++slot)
        ASSERT_TRUE(waitForState(slot, SlotSucceeded, 90000)) << "slot " << slot;
    ASSERT_TRUE(waitUntil(workersEnded, 30000));
    QTest::qWait(1500);
    int rows = 0;
    for (const QString &port : ports) {
        SCOPED_TRACE(port.toStdString());
        // The cut-short burn starts over: loader stages twice, targets once.
        const QMap<QString, int> whole = completeFwcs(boardFwcs(port));
        EXPECT_EQ(whole.value(QStringLiteral("image.target.kernel")), 1);
        EXPECT_EQ(whole.value(QStringLiteral("image.target.rootfs")), 1);
        const QList<HistoryRecord> history = historyOf(port);
        ASSERT_EQ(history.size(), 1);
        EXPECT_EQ(history[0].result, 1);
        rows += history.size();
    }
    EXPECT_EQ(rowsWithoutPortOrImage(), orphanRowsBefore);
    m_session->counters()->flush();
    QSettings ini(QDir(g_workDir).filePath(QStringLiteral("Veldmark.ini")), QSettings::IniFormat);
    EXPECT_EQ(ini.value(QStringLiteral("statistic/total_count")).toInt(), m_total + rows);
    EXPECT_EQ(ini.value(QStringLiteral("statistic/success_count")).toInt(), m_successes + rows);
    EXPECT_EQ(ini.value(QStringLiteral("statistic/fail_count")).toInt(), m_failures);
}

TEST_F(ConsoleFarm, EightBurnsThatEndWhileTheConsoleIsBusyAreRecordedAsSuccesses)
{
    startFarm({});
    // A root file system of twelve chunks: more reports wait for the
    // console than its queue of connections holds.
    zelimg::ImageDesc desc = sampleImage();
    desc.components.back().bytes = patternBytes(12 * 1024 * 1024, 4);
    startConsole(writeImage(desc));
    // A restart long enough that no burn ends before every one has begun.
    for (int k = 1; k <= 8; ++k)
        plug(QStringLiteral("6:%1").arg(k), QStringLiteral("restart_delay=3000"));
    ASSERT_TRUE(waitUntil(
        [&] {
            for (int slot = 0; slot < 8; ++slot) {
                const int state = m_session->slot(slot).state;
                if (state != SlotBurning && state != SlotWaitingReboot)
                    return false;
            }
            return true;
        },
        90000));
    // The console's thread does nothing for longer than a worker waits for
    // answers to its progress and needs to finish, as a stopped or stalled
    // console does.
    QThread::sleep(22);
    for (int k = 1; k <= 8; ++k)
        EXPECT_EQ(completeFwcs(boardFwcs(QStringLiteral("6:%1").arg(k))).value(
                      QStringLiteral("image.target.rootfs")),
                  1)
            << "board " << k << " was not burned while the console stood still";
    for (int slot = 0; slot < 8; ++slot)
        EXPECT_TRUE(waitForState(slot, SlotSucceeded, 30000)) << "slot " << slot;
    ASSERT_TRUE(waitUntil(workersEnded, 30000));
    for (int k = 1; k <= 8; ++k) {
        const QList<HistoryRecord> rows = historyOf(QStringLiteral("6:%1").arg(k));
        ASSERT_EQ(rows.size(), 1) << k;
        EXPECT_EQ(rows[0].result, 1) << k;
    }
    EXPECT_EQ(counted().succeeded, m_successes + 8);
    EXPECT_EQ(counted().failed, m_failures);
}

TEST_F(ConsoleFarm, AWorkerThatFallsSilentIsEndedAndItsBurnFailsWhateverAnotherProcessClaims)
{
    startFarm({});
    m_store->setIntValue(QStringLiteral("common"), QStringLiteral("worker_silence_seconds"), 3);
    startConsole(writeImage(sampleImage()));
    plug(QStringLiteral("7:1"), QStringLiteral("restart_delay=200"));
    ASSERT_TRUE(waitForState(0, SlotBurning, 30000));
    const QList<pid_t> pids = workerPids(QStringLiteral("7:1"));
    ASSERT_EQ(pids.size(), 1);
    ::kill(pids[0], SIGSTOP);
    // Another process claims the stopped burn's success: it is not the
    // slot's worker, so its word counts for nothing.
    std::atomic<bool> claimed{false};
    std::thread stranger([&claimed] {
        deliverReport(consoleWindowTitle(), ReportResult, buildReportPayload(0, 1), 5000);
        claimed = true;
    });
    waitUntil([&claimed] { return claimed.load(); }, 10000);
    stranger.join();
    EXPECT_NE(m_session->slot(0).state, SlotSucceeded);
    const bool failed = waitForState(0, SlotFailed, 15000);
    // Never left stopped behind, whatever the console did.
    ::kill(pids[0], SIGKILL);
    m_store->setIntValue(QStringLiteral("common"), QStringLiteral("worker_silence_seconds"), 0);
    ASSERT_TRUE(failed);
    ASSERT_EQ(historyOf(QStringLiteral("7:1")).size(), 1);
    EXPECT_EQ(historyOf(QStringLiteral("7:1"))[0].result, 0);
    EXPECT_EQ(counted().failed, m_failures + 1);
    // The operator finds why in the console's log.
    QFile log(QStringLiteral("%1/log/%2/main.log")
                  .arg(g_workDir, QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("sent no report for 3 s; ending it"));
    EXPECT_TRUE(m_tab->isIdle());
}

TEST_F(ConsoleFarm, AConsoleThatCannotHearItsWorkersBurnsNothingAndSaysSo)
{
    startFarm({});
    // Someone else receives the reports under the console's title.
    ReportReceiver taken(consoleWindowTitle());
    ASSERT_TRUE(taken.listen());
    ModalAnswerer answer(QStringLiteral("ok_btn"));
    startConsole(writeImage(sampleImage()));
    plug(QStringLiteral("8:1"));
    ASSERT_TRUE(waitUntil([&answer] { return answer.answered(); }, 10000));
    EXPECT_TRUE(answer.text().contains(QStringLiteral("无法接收烧写结果"))) << answer.text().toStdString();
    QTest::qWait(2000);
    EXPECT_TRUE(workerPids().isEmpty());
    EXPECT_TRUE(boardFwcs(QStringLiteral("8:1")).empty());
    EXPECT_FALSE(m_window->findChild<QPushButton *>(QStringLiteral("select_btn"))->isEnabled());
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no window system.
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path()))
        return 1;
    g_workDir = work.path();
    return RUN_ALL_TESTS();
}
