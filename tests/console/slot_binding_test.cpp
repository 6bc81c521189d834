// Which slot a listed board lands in, what a rescan leaves alone, and when a
// board at a known port is another board.
#include "history_test_env.h"
#include "slot_binding.h"

#include <gtest/gtest.h>

namespace
{

// One grid with its map and listing history, rebound like the console does.
struct Grid {
    explicit Grid(int count, PortMapping initial = {}) : records(count), map(std::move(initial)) {}

    QVector<int> rebind(const QVector<BoardSighting> &boards, QList<int> running = {},
                        QStringList refused = {})
    {
        BindingChecks checks;
        checks.workerRuns = [running](int slot) { return running.contains(slot); };
        checks.opens = [refused](const QString &port) { return !refused.contains(port); };
        return rebindSlots(records, map, sightings, boards, checks);
    }

    QVector<SlotRecord> records;
    PortMapping map;
    PortSightings sightings;
};

} // namespace

TEST(SlotBinding, BoardsKeepTheirSlotForGoodAndLeaveOnlyWhenTheyAreGone)
{
    Grid g(4, {{QStringLiteral("1:9"), 2}});

    // New ports take the first free slot, a mapped port its own slot.
    EXPECT_EQ(g.rebind({{"1:1", 5}, {"1:9", 6}, {"1:2", 7}, {"bad", 8}}),
              (QVector<int>{0, 2, 1}));
    EXPECT_EQ(g.map, (PortMapping{{"1:1", 0}, {"1:2", 1}, {"1:9", 2}}));
    EXPECT_EQ(g.records[2].portText, QStringLiteral("1:9"));
    EXPECT_EQ(g.records[2].state, SlotLinked);
    EXPECT_EQ(g.records[3].state, SlotDisconnected);

    // Found again: nothing is restarted, the burn's state stays.
    g.records[0].state = SlotBurning;
    g.records[1].state = SlotWaitingReboot; // its board restarts and is not listed
    g.records[2].state = SlotSucceeded;     // its board was unplugged
    EXPECT_TRUE(g.rebind({{"1:1", 5}}, {0, 1}).isEmpty());
    EXPECT_EQ(g.records[0].state, SlotBurning);
    EXPECT_EQ(g.records[1].state, SlotWaitingReboot);
    EXPECT_EQ(g.records[1].portText, QStringLiteral("1:2"));
    EXPECT_EQ(g.records[2].state, SlotDisconnected);
    EXPECT_TRUE(g.records[2].portText.isEmpty());

    // The board comes back to its own slot, not to the first empty one.
    EXPECT_EQ(g.rebind({{"1:1", 5}, {"1:9", 11}}, {0}), (QVector<int>{2}));
    EXPECT_EQ(g.records[2].portText, QStringLiteral("1:9"));
}

// The device address tells a board from the one before it at the same port.
// Each row: the slot's state and whether its worker runs when the board at
// its port comes back with another address, and whether that is a new board.
TEST(SlotBinding, AnotherAddressAtAPortIsANewBoardUnlessItsWorkerRuns)
{
    struct Row {
        const char *what;
        int state;
        bool workerRuns;
        bool newBoard;
    } rows[] = {
        {"swapped after its burn succeeded", SlotSucceeded, false, true},
        {"swapped after its burn failed", SlotFailed, false, true},
        {"swapped while waiting for an image", SlotLinked, false, true},
        {"restarted between loader stages", SlotWaitingReboot, true, false},
        {"restarted before its worker said it would", SlotBurning, true, false},
        {"listed while its worker starts", SlotLinked, true, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Grid g(2);
        ASSERT_EQ(g.rebind({{"1:1", 5}}), (QVector<int>{0}));
        g.records[0].state = row.state;
        g.records[0].imageName = QStringLiteral("a.img");
        const QList<int> running = row.workerRuns ? QList<int>{0} : QList<int>{};

        // The same board listed again is never new.
        EXPECT_TRUE(g.rebind({{"1:1", 5}}, running).isEmpty());
        EXPECT_EQ(g.records[0].state, row.state);

        const QVector<int> bound = g.rebind({{"1:1", 9}}, running);
        EXPECT_EQ(bound, row.newBoard ? QVector<int>{0} : QVector<int>{});
        EXPECT_EQ(g.records[0].state, row.newBoard ? SlotLinked : row.state);
        EXPECT_EQ(g.records[0].imageName.isEmpty(), row.newBoard);
        EXPECT_EQ(g.records[0].address, 9);
        // A restarted board keeps its new address: listed again it is not new.
        EXPECT_TRUE(g.rebind({{"1:1", 9}}, running).isEmpty());
    }

    // A new board that cannot be opened is not bound, and its slot is emptied.
    Grid g(2);
    g.rebind({{"1:1", 5}});
    g.records[0].state = SlotSucceeded;
    EXPECT_TRUE(g.rebind({{"1:1", 6}}, {}, {"1:1"}).isEmpty());
    EXPECT_EQ(g.records[0].state, SlotDisconnected);
    EXPECT_EQ(g.rebind({{"1:1", 6}}), (QVector<int>{0}));
}

TEST(SlotBinding, TheMapNeverPutsTwoBoardsInOneSlotNorLeavesABoardOut)
{
    LogCapture log;
    // Left from a grid of 16: the board takes a free slot and the entry is replaced.
    Grid g(2, {{QStringLiteral("1:5"), 12}});
    EXPECT_EQ(g.rebind({{"1:5", 1}}), (QVector<int>{0}));
    EXPECT_EQ(g.map.value(QStringLiteral("1:5")), 0);
    EXPECT_TRUE(
        log.contains(QtWarningMsg, QStringLiteral("Binded position of dev: \"1:5\" is overflow")));

    // Map cleared with a board on screen: the next board must not share its slot.
    g.records[0].state = SlotBurning;
    g.map.clear();
    EXPECT_EQ(g.rebind({{"1:5", 1}, {"1:6", 2}}, {0}), (QVector<int>{1}));
    EXPECT_EQ(g.records[0].portText, QStringLiteral("1:5"));
    EXPECT_EQ(g.records[1].portText, QStringLiteral("1:6"));

    // Every slot holds a board: the third is not shown.
    EXPECT_TRUE(g.rebind({{"1:5", 1}, {"1:6", 2}, {"1:7", 3}}, {0}).isEmpty());
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("No usable position for dev: \"1:7\"")));
    EXPECT_FALSE(g.map.contains(QStringLiteral("1:7")));

    // Two ports mapped to one slot: the second board goes to a free slot,
    // whichever of the two is listed first.
    Grid twice(3, {{QStringLiteral("2:1"), 0}, {QStringLiteral("2:2"), 0}});
    EXPECT_EQ(twice.rebind({{"2:2", 1}, {"2:1", 2}}), (QVector<int>{0, 1}));
    EXPECT_EQ(twice.records[0].portText, QStringLiteral("2:2"));
    EXPECT_EQ(twice.records[1].portText, QStringLiteral("2:1"));
    EXPECT_EQ(twice.map, (PortMapping{{"2:1", 1}, {"2:2", 0}}));
    EXPECT_TRUE(log.contains(QtWarningMsg,
                             QStringLiteral("Binded position of dev: \"2:1\" shows dev: \"2:2\"")));
}

TEST(SlotBinding, AHubMovedToAnotherSocketReusesTheSlotsAbsentLongest)
{
    LogCapture log;
    // Every slot is mapped; the board of 3:9 was not seen since the start.
    Grid g(3, {{QStringLiteral("3:9"), 1}});
    EXPECT_EQ(g.rebind({{"1:1", 1}, {"1:2", 2}}), (QVector<int>{0, 2}));
    g.rebind({{"1:2", 2}}); // 1:1 leaves first
    g.rebind({});           // then 1:2
    g.rebind({{"1:2", 3}}); // 1:2 back for a while
    g.rebind({});

    // The hub on another socket: its boards take the slots whose boards have
    // been away longest (never seen, then 1:1), never one that shows a board.
    EXPECT_EQ(g.rebind({{"4:1", 1}}), (QVector<int>{1}));
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("No free position for dev: \"4:1\" - "
                                                          "position 2 of dev: \"3:9\" absent "
                                                          "longest is reused")));
    EXPECT_EQ(g.rebind({{"4:1", 1}, {"4:2", 2}}), (QVector<int>{0}));
    EXPECT_EQ(g.records[0].portText, QStringLiteral("4:2"));
    EXPECT_EQ(g.rebind({{"4:1", 1}, {"4:2", 2}, {"4:3", 3}}), (QVector<int>{2}));
    EXPECT_EQ(g.map, (PortMapping{{"4:1", 1}, {"4:2", 0}, {"4:3", 2}}));
    EXPECT_TRUE(g.rebind({{"4:1", 1}, {"4:2", 2}, {"4:3", 3}, {"4:4", 4}}).isEmpty());
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("No usable position for dev: \"4:4\"")));
}
