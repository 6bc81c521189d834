#include "slot_binding.h"

#include <QDebug>

#include <limits>

namespace
{

int slotShowing(const QVector<SlotRecord> &records, const QString &port)
{
    for (int i = 0; i < records.size(); ++i) {
        if (records[i].portText == port)
            return i;
    }
    return -1;
}

// A slot holds a board while it shows one still listed or burned.
bool holdsBoard(const SlotRecord &record)
{
    return !record.portText.isEmpty() && record.present;
}

// The first slot that neither the map binds nor holds a board, or -1. A slot
// still showing a board is not free even after the map was cleared: two
// workers would then report into one slot.
int firstFreeSlot(const QVector<SlotRecord> &records, const PortMapping &mapping)
{
    const QList<int> bound = mapping.values();
    for (int i = 0; i < records.size(); ++i) {
        if (!bound.contains(i) && !holdsBoard(records[i]))
            return i;
    }
    return -1;
}

// The bound slot holding no board whose ports' boards were listed longest
// ago, or -1. Taken when no slot is free, so that a hub moved to another
// socket does not leave its boards without a slot.
int longestAbsentSlot(const QVector<SlotRecord> &records, const PortMapping &mapping,
                      const PortSightings &sightings, const BindingChecks &checks, QString *port)
{
    int best = -1;
    quint64 bestSeen = std::numeric_limits<quint64>::max();
    for (int i = 0; i < records.size(); ++i) {
        if (holdsBoard(records[i]) || checks.workerRuns(i))
            continue;
        quint64 seen = 0;
        QString seenPort;
        for (auto it = mapping.constBegin(); it != mapping.constEnd(); ++it) {
            if (it.value() == i && sightings.lastListed.value(it.key()) >= seen) {
                seen = sightings.lastListed.value(it.key());
                seenPort = it.key();
            }
        }
        if (!seenPort.isEmpty() && seen < bestSeen) {
            best = i;
            bestSeen = seen;
            *port = seenPort;
        }
    }
    return best;
}

// The slot for a board at a port no slot shows, or -1; the map records it.
int targetSlot(const QVector<SlotRecord> &records, PortMapping &mapping,
               const PortSightings &sightings, const BindingChecks &checks, const QString &port)
{
    const auto entry = mapping.constFind(port);
    if (entry != mapping.constEnd()) {
        const int mapped = entry.value();
        if (mapped < 0 || mapped >= records.size()) {
            // Left from a larger grid: the port takes a free slot instead of never burning.
            qWarning() << "Binded position of dev:" << port << "is overflow";
        } else if (holdsBoard(records[mapped]) || checks.workerRuns(mapped)) {
            // Two ports mapped to one slot: the second board would be
            // recorded as the first.
            qWarning() << "Binded position of dev:" << port << "shows dev:"
                       << records[mapped].portText;
        } else {
            return mapped;
        }
    }
    int target = firstFreeSlot(records, mapping);
    if (target < 0) {
        QString absent;
        target = longestAbsentSlot(records, mapping, sightings, checks, &absent);
        if (target < 0) {
            qWarning() << "No usable position for dev:" << port;
            return -1;
        }
        qWarning() << "No free position for dev:" << port << "- position" << target + 1
                   << "of dev:" << absent << "absent longest is reused";
        for (auto it = mapping.begin(); it != mapping.end();)
            it = it.value() == target ? mapping.erase(it) : std::next(it);
    }
    mapping.insert(port, target);
    return target;
}

void bind(SlotRecord &slot, const BoardSighting &board)
{
    slot.reset();
    slot.present = true;
    slot.portText = board.port;
    slot.address = board.address;
    slot.state = SlotLinked;
}

} // namespace

QVector<int> rebindSlots(QVector<SlotRecord> &records, PortMapping &mapping,
                         PortSightings &sightings, const QVector<BoardSighting> &boards,
                         const BindingChecks &checks)
{
    const quint64 listing = ++sightings.listing;
    // A board restarting between loader stages is off the bus for a moment.
    for (int i = 0; i < records.size(); ++i) {
        if (records[i].state != SlotWaitingReboot && !checks.workerRuns(i))
            records[i].present = false;
    }

    // First the boards already shown, so that every slot that still holds its
    // board is known before a new board looks for a slot.
    QVector<BoardSighting> arrived;
    for (const BoardSighting &board : boards) {
        if (board.port.split(QLatin1Char(':')).size() < 2)
            continue;
        sightings.lastListed.insert(board.port, listing);
        const int shown = slotShowing(records, board.port);
        if (shown < 0) {
            arrived.append(board);
            continue;
        }
        SlotRecord &slot = records[shown];
        if (slot.address == board.address || checks.workerRuns(shown) ||
            slot.state == SlotWaitingReboot) {
            slot.address = board.address;
            slot.present = true;
            continue;
        }
        qDebug() << "Another board at dev:" << board.port << "address" << board.address
                 << "instead of" << slot.address;
        slot.present = false;
        arrived.append(board);
    }

    QVector<int> bound;
    for (const BoardSighting &board : arrived) {
        if (!checks.opens(board.port))
            continue;
        const int shown = slotShowing(records, board.port);
        const int target =
            shown >= 0 ? shown : targetSlot(records, mapping, sightings, checks, board.port);
        if (target < 0)
            continue;
        bind(records[target], board);
        bound.append(target);
    }

    for (SlotRecord &slot : records) {
        if (!slot.present)
            slot.reset();
    }
    return bound;
}
