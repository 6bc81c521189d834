#pragma once
// Binds the listed boards to slots: a port keeps its slot for good through
// the port map, a new port takes the first free slot, and with no slot free
// the slot of the port whose board has been away longest. A board is its port
// and its device address: another address at a slot's port is a new board,
// unless the slot's worker runs (its board restarts between loader stages).

#include "board_listing.h"
#include "settings_store.h"
#include "slot_record.h"

#include <QHash>
#include <QVector>

#include <functional>

// When each port's board was last listed, counted in listings.
struct PortSightings {
    quint64 listing = 0;
    QHash<QString, quint64> lastListed;
};

struct BindingChecks {
    // Slot i's worker is still running: its board counts as there even while
    // restarting off the bus, and whatever board is at its port is the one it burns.
    std::function<bool(int)> workerRuns;
    // Asked only of a board about to be bound anew: false leaves it unbound.
    std::function<bool(const QString &port)> opens;
};

// Rebinds the slots' records to the boards of one listing and resets the
// slots whose board is gone. Returns the slots bound anew (now Linked), in
// binding order; their burns are the caller's to start.
QVector<int> rebindSlots(QVector<SlotRecord> &records, PortMapping &mapping,
                         PortSightings &sightings, const QVector<BoardSighting> &boards,
                         const BindingChecks &checks);
