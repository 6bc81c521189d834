#include "slot_binding.h"

#include <QDebug>

namespace
{

// Index of the slot showing port, or -1; firstFree becomes the first slot that
// neither the map binds nor shows a board (-1 when there is none).
int findSlot(const QVector<SlotRecord> &records, const PortMapping &mapping, const QString &port,
             int *firstFree)
{
    *firstFree = -1;
    QList<int> bound = mapping.values();
    for (int i = 0; i < records.size(); ++i) {
        if (records[i].portText == port)
            return i;
        // A slot still showing a board is not free even after the map was cleared:
        // two workers would then report into one slot.
        if (*firstFree < 0 && !bound.contains(i) && records[i].portText.isEmpty())
            *firstFree = i;
    }
    return -1;
}

// The slot for a port that no slot shows, or -1.
int targetSlot(const QVector<SlotRecord> &records, PortMapping &mapping, const QString &port,
               int firstFree)
{
    const auto entry = mapping.constFind(port);
    if (entry != mapping.constEnd()) {
        if (entry.value() >= 0 && entry.value() < records.size())
            return entry.value();
        // Left from a larger grid: the port takes a free slot instead of never burning.
        qWarning() << "Binded position of dev:" << port << "is overflow";
    }
    if (firstFree < 0) {
        qWarning() << "No usable position for dev:" << port;
        return -1;
    }
    mapping.insert(port, firstFree);
    return firstFree;
}

} // namespace

QVector<int> rebindSlots(QVector<SlotRecord> &records, PortMapping &mapping,
                         const QStringList &ports, const std::function<bool(int)> &workerRuns)
{
    // A board restarting between loader stages is off the bus for a moment.
    for (int i = 0; i < records.size(); ++i) {
        if (records[i].state != SlotWaitingReboot && !workerRuns(i))
            records[i].present = false;
    }

    QVector<int> bound;
    for (const QString &port : ports) {
        if (port.split(QLatin1Char(':')).size() < 2)
            continue;
        int firstFree = -1;
        const int shown = findSlot(records, mapping, port, &firstFree);
        if (shown >= 0) {
            records[shown].present = true;
            continue;
        }
        const int target = targetSlot(records, mapping, port, firstFree);
        if (target < 0)
            continue;
        SlotRecord &slot = records[target];
        slot.present = true;
        slot.portText = port;
        slot.state = SlotLinked;
        slot.progress = 0;
        bound.append(target);
    }

    for (SlotRecord &slot : records) {
        if (!slot.present)
            slot.reset();
    }
    return bound;
}
