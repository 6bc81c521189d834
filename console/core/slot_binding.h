#pragma once
// Binds the listed boards to slots: a port text keeps its slot for good
// through the port map, a new port takes the first free slot.

#include "settings_store.h"
#include "slot_record.h"

#include <QStringList>
#include <QVector>

#include <functional>

// Rebinds the slots' records to ports (the port texts of one listing, in order)
// and resets the slots whose board is gone. workerRuns(i) tells whether slot i's worker is
// still running: its board is claimed and therefore missing from the listing,
// so such a slot keeps its binding and state. Returns the slots bound anew
// (now Linked), in binding order; their burns are the caller's to start.
QVector<int> rebindSlots(QVector<SlotRecord> &records, PortMapping &mapping,
                         const QStringList &ports, const std::function<bool(int)> &workerRuns);
