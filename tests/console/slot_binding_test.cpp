// Which slot a listed board lands in, and what a rescan leaves alone.
#include "history_test_env.h"
#include "slot_binding.h"

#include <gtest/gtest.h>

namespace
{

QVector<SlotRecord> grid(int count)
{
    return QVector<SlotRecord>(count);
}

const auto kNoWorker = [](int) { return false; };

} // namespace

TEST(SlotBinding, BoardsKeepTheirSlotForGoodAndLeaveOnlyWhenTheyAreGone)
{
    QVector<SlotRecord> records = grid(4);
    PortMapping map{{QStringLiteral("1:9"), 2}};

    // New ports take the first free slot, a mapped port its own slot.
    EXPECT_EQ(rebindSlots(records, map, {"1:1", "1:9", "1:2", "bad"}, kNoWorker),
              (QVector<int>{0, 2, 1}));
    EXPECT_EQ(map, (PortMapping{{"1:1", 0}, {"1:2", 1}, {"1:9", 2}}));
    EXPECT_EQ(records[2].portText, QStringLiteral("1:9"));
    EXPECT_EQ(records[2].state, SlotLinked);
    EXPECT_EQ(records[3].state, SlotDisconnected);

    // Found again: nothing is restarted, the burn's state stays.
    records[0].state = SlotBurning;
    records[1].state = SlotWaitingReboot; // its board restarts and is not listed
    records[2].state = SlotSucceeded;     // its board was unplugged
    EXPECT_TRUE(rebindSlots(records, map, {"1:1"}, kNoWorker).isEmpty());
    EXPECT_EQ(records[0].state, SlotBurning);
    EXPECT_EQ(records[1].state, SlotWaitingReboot);
    EXPECT_EQ(records[1].portText, QStringLiteral("1:2"));
    EXPECT_EQ(records[2].state, SlotDisconnected);
    EXPECT_TRUE(records[2].portText.isEmpty());

    // The board comes back to its own slot, not to the first empty one.
    EXPECT_EQ(rebindSlots(records, map, {"1:1", "1:9"}, kNoWorker), (QVector<int>{2}));
    EXPECT_EQ(records[2].portText, QStringLiteral("1:9"));
}

TEST(SlotBinding, ASlotWhoseWorkerRunsKeepsItsBoardAtARescan)
{
    // The worker has claimed its board, so the board is missing from the list.
    QVector<SlotRecord> records = grid(2);
    PortMapping map;
    rebindSlots(records, map, {"1:1"}, kNoWorker);
    records[0].state = SlotBurning;
    EXPECT_TRUE(rebindSlots(records, map, {}, [](int slot) { return slot == 0; }).isEmpty());
    EXPECT_EQ(records[0].portText, QStringLiteral("1:1"));
    EXPECT_EQ(records[0].state, SlotBurning);
    // Once the worker has ended, the listed board is the one already shown.
    records[0].state = SlotSucceeded;
    EXPECT_TRUE(rebindSlots(records, map, {"1:1"}, kNoWorker).isEmpty());
    EXPECT_EQ(records[0].state, SlotSucceeded);
}

TEST(SlotBinding, MapEntriesPastTheGridAndClearedMapsDoNotLoseOrDoubleBoards)
{
    LogCapture log;
    // Left from a grid of 16: the board takes a free slot and the entry is replaced.
    QVector<SlotRecord> records = grid(2);
    PortMapping map{{QStringLiteral("1:5"), 12}};
    EXPECT_EQ(rebindSlots(records, map, {"1:5"}, kNoWorker), (QVector<int>{0}));
    EXPECT_EQ(map.value(QStringLiteral("1:5")), 0);
    EXPECT_TRUE(
        log.contains(QtWarningMsg, QStringLiteral("Binded position of dev: \"1:5\" is overflow")));

    // Map cleared with a board on screen: the next board must not share its slot.
    records[0].state = SlotBurning;
    map.clear();
    EXPECT_EQ(rebindSlots(records, map, {"1:5", "1:6"}, kNoWorker), (QVector<int>{1}));
    EXPECT_EQ(records[0].portText, QStringLiteral("1:5"));
    EXPECT_EQ(records[1].portText, QStringLiteral("1:6"));

    // Every slot taken: the third board is not shown.
    EXPECT_TRUE(rebindSlots(records, map, {"1:5", "1:6", "1:7"}, kNoWorker).isEmpty());
    EXPECT_TRUE(log.contains(QtWarningMsg, QStringLiteral("No usable position for dev: \"1:7\"")));
    EXPECT_FALSE(map.contains(QStringLiteral("1:7")));
}
