// One host controller's bandwidth, shared by the boards that hang on it.
//
// Every transfer pending on a bus gets an equal share of the bus's rate
// (processor sharing), as a host controller's round robin over its queues
// does packet by packet: a board alone gets the whole bus, sixteen get a
// sixteenth each, and a short transfer is not held behind a long one.
#pragma once

#include "device.h"

#include <cstdint>
#include <map>
#include <set>

namespace vboard {
namespace detail {

// The sharing itself, on a clock the caller passes in.
class SharedBus {
public:
    void setRate(double bytesPerSecond) { m_bytesPerNs = bytesPerSecond / 1e9; }
    // A transfer of `bytes` is put on the bus at `now`; returns its ticket.
    uint64_t join(uint64_t bytes, Clock::time_point now);
    // True (and the ticket forgotten) once all its bytes have crossed by
    // `now`; otherwise `*eta` is when they will if no transfer joins or ends.
    bool done(uint64_t ticket, Clock::time_point now, Clock::time_point *eta);
    size_t pending() const { return m_tags.size(); }

private:
    void advance(Clock::time_point now);

    double m_bytesPerNs = 0;
    Clock::time_point m_clock{};
    double m_served = 0; // bytes each pending transfer got since the bus was idle
    uint64_t m_next = 1;
    std::map<uint64_t, double> m_tags;          // ticket -> m_served at which it is done
    std::multimap<double, uint64_t> m_byTag;    // the same, by tag
    std::set<uint64_t> m_done;
};

// Blocks until `bytes` have crossed bus number `bus`, which carries `mbps`
// Mbit/s of bulk data shared among the transfers on it meanwhile.
void carryOnBus(uint8_t bus, uint32_t mbps, uint64_t bytes);

} // namespace detail
} // namespace vboard
