#include "shared_bus.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace vboard {
namespace detail {

uint64_t SharedBus::join(uint64_t bytes, Clock::time_point now)
{
    advance(now);
    const uint64_t ticket = m_next++;
    const double tag = m_served + double(bytes);
    m_tags.emplace(ticket, tag);
    m_byTag.emplace(tag, ticket);
    return ticket;
}

bool SharedBus::done(uint64_t ticket, Clock::time_point now, Clock::time_point *eta)
{
    advance(now);
    if (m_done.erase(ticket))
        return true;
    const double remaining = m_tags.at(ticket) - m_served;
    const double ns = remaining * double(m_tags.size()) / m_bytesPerNs;
    *eta = m_clock + std::chrono::nanoseconds(int64_t(ns) + 1);
    return false;
}

// Runs the sharing up to `now`, ending each transfer at the moment its last
// byte crossed, so that the others' shares grow from then on even when its
// owner looks late.
void SharedBus::advance(Clock::time_point now)
{
    while (!m_byTag.empty() && m_clock < now) {
        const auto first = m_byTag.begin();
        const double n = double(m_tags.size());
        const double toFirstNs = (first->first - m_served) * n / m_bytesPerNs;
        const double elapsedNs = double(std::chrono::nanoseconds(now - m_clock).count());
        if (toFirstNs > elapsedNs) {
            m_served += elapsedNs * m_bytesPerNs / n;
            m_clock = now;
            return;
        }
        m_served = first->first;
        m_clock += std::chrono::nanoseconds(int64_t(toFirstNs));
        m_done.insert(first->second);
        m_tags.erase(first->second);
        m_byTag.erase(first);
    }
    // Ends that fall within a nanosecond of the clock, and zero-byte transfers.
    while (!m_byTag.empty() && m_byTag.begin()->first <= m_served) {
        m_done.insert(m_byTag.begin()->second);
        m_tags.erase(m_byTag.begin()->second);
        m_byTag.erase(m_byTag.begin());
    }
    if (m_byTag.empty()) {
        m_served = 0;
        m_clock = std::max(m_clock, now);
    }
}

namespace {

struct Lane {
    std::mutex m;
    std::condition_variable changed;
    SharedBus bus;
};

Lane &lane(uint8_t bus)
{
    static std::mutex m;
    static std::map<uint8_t, std::unique_ptr<Lane>> lanes; // never freed: waiters may hold one
    std::lock_guard<std::mutex> g(m);
    std::unique_ptr<Lane> &l = lanes[bus];
    if (!l)
        l = std::make_unique<Lane>();
    return *l;
}

} // namespace

void carryOnBus(uint8_t bus, uint32_t mbps, uint64_t bytes)
{
    Lane &l = lane(bus);
    std::unique_lock<std::mutex> g(l.m);
    l.bus.setRate(double(mbps) * 1e6 / 8);
    const uint64_t ticket = l.bus.join(bytes, Clock::now());
    // Everyone else's share just shrank; each waiter sleeps to its own end
    // and is woken when a transfer joins or ends.
    l.changed.notify_all();
    Clock::time_point eta;
    while (!l.bus.done(ticket, Clock::now(), &eta))
        l.changed.wait_until(g, eta);
    l.changed.notify_all();
}

} // namespace detail
} // namespace vboard
