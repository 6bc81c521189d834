// Backend over the in-process bus.
#include "backend.h"

#include <libusb.h>

#include <deque>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vboard {
namespace detail {

namespace {

constexpr size_t kMaxQueued = 100000;

class LocalChannel : public Channel {
public:
    explicit LocalChannel(uint64_t instance) : m_instance(instance) {}
    ~LocalChannel() override { releaseAll(this); }

    int claim(int interface) override
    {
        return detail::claim(m_instance, interface, this, "pid " + std::to_string(getpid()));
    }
    int release(int interface) override { return detail::release(m_instance, interface, this); }
    int bulk(uint8_t ep, uint8_t *data, int len, int *transferred, unsigned timeoutMs) override
    {
        return detail::bulk(m_instance, this, ep, data, len, transferred, timeoutMs);
    }

private:
    uint64_t m_instance;
};

class LocalBackend : public Backend {
public:
    LocalBackend()
    {
        m_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        m_listener = addListener([this](const BusEvent &ev) {
            std::lock_guard<std::mutex> g(m_mutex);
            if (m_queue.size() >= kMaxQueued)
                m_queue.pop_front();
            m_queue.push_back(ev);
            const uint64_t one = 1;
            if (write(m_fd, &one, sizeof one) < 0) {
                // The counter only saturates; the queue holds the events.
            }
        });
    }
    ~LocalBackend() override
    {
        removeListener(m_listener);
        close(m_fd);
    }

    int list(std::vector<DevInfo> *out) override
    {
        *out = listPresent();
        return 0;
    }

    int open(const DevInfo &dev, std::unique_ptr<Channel> *out) override
    {
        if (const int rc = openResult(dev.instance))
            return rc;
        out->reset(new LocalChannel(dev.instance));
        return 0;
    }

    int eventFd() override { return m_fd; }

    void drainEvents(std::vector<BusEvent> *out) override
    {
        std::lock_guard<std::mutex> g(m_mutex);
        uint64_t v;
        if (read(m_fd, &v, sizeof v) < 0) {
            // Nothing signalled: the queue is empty too.
        }
        out->assign(m_queue.begin(), m_queue.end());
        m_queue.clear();
    }

private:
    std::mutex m_mutex;
    std::deque<BusEvent> m_queue;
    int m_fd = -1;
    int m_listener = 0;
};

} // namespace

std::unique_ptr<Backend> makeLocalBackend() { return std::unique_ptr<Backend>(new LocalBackend); }

} // namespace detail
} // namespace vboard
