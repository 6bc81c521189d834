// Device changes from libusb hotplug events on a libusb context of the
// monitor's own. libusb's descriptors are watched with socket notifiers and
// its events handled with a zero time-out whenever one becomes ready.
//
// The system announces a device as soon as it is on the bus, which can be
// before the host has configured it; a board listed then cannot be opened
// and would be missed until its next change. Such an arrival is held back
// and announced once the board is configured (or after a bounded wait).
#include "device_monitor.h"

#include "device_change.h"
#include "upg_device.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <QVector>

#include <libusb.h>
#include <poll.h>

#include <utility>
#include <vector>

namespace
{
constexpr int kConfigureRecheckMs = 50;
constexpr qint64 kConfigureWaitMs = 5000;

// False only while the host has not chosen the device's configuration yet.
bool configured(libusb_device *device)
{
    libusb_config_descriptor *config = nullptr;
    const int rc = libusb_get_active_config_descriptor(device, &config);
    if (rc == LIBUSB_SUCCESS)
        libusb_free_config_descriptor(config);
    return rc != LIBUSB_ERROR_NOT_FOUND;
}
} // namespace

class DeviceMonitor::Watcher
{
public:
    explicit Watcher(DeviceMonitor *monitor) : m_monitor(monitor), m_recheck(new QTimer(monitor))
    {
        m_recheck->setSingleShot(true);
        m_recheck->setInterval(kConfigureRecheckMs);
        QObject::connect(m_recheck, &QTimer::timeout, monitor, [this] { announce(); });
    }
    ~Watcher();

    bool start();

private:
    static int LIBUSB_CALL onHotplug(libusb_context *, libusb_device *, libusb_hotplug_event event,
                                     void *user);
    static void LIBUSB_CALL onPollfdAdded(int fd, short events, void *user);
    static void LIBUSB_CALL onPollfdRemoved(int fd, void *user);

    void watch(int fd, short events);
    void unwatch(int fd);
    void handleEvents();
    void announce();
    void stop();

    struct HeldArrival {
        libusb_device *device; // referenced while held
        QElapsedTimer since;
    };

    DeviceMonitor *m_monitor;
    libusb_context *m_context = nullptr;
    libusb_hotplug_callback_handle m_hotplug = 0;
    std::vector<QSocketNotifier *> m_notifiers;
    QVector<int> m_pending; // changes seen in the current round
    std::vector<HeldArrival> m_held; // arrived, not configured yet
    QTimer *m_recheck;
};

DeviceMonitor::Watcher::~Watcher()
{
    stop();
}

bool DeviceMonitor::Watcher::start()
{
    if (m_context)
        return true;
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        qWarning() << "USB hotplug is not supported here: boards will not be detected";
        return false;
    }
    int rc = libusb_init(&m_context);
    if (rc != LIBUSB_SUCCESS) {
        m_context = nullptr;
        qWarning() << "Failed to create a USB context for hotplug:" << libusb_error_name(rc)
                   << "- boards will not be detected";
        return false;
    }
    rc = libusb_hotplug_register_callback(
        m_context, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
        LIBUSB_HOTPLUG_NO_FLAGS, UPG_USB_VID, UPG_USB_PID, LIBUSB_HOTPLUG_MATCH_ANY, onHotplug,
        this, &m_hotplug);
    if (rc != LIBUSB_SUCCESS) {
        qWarning() << "Failed to register the USB hotplug callback:" << libusb_error_name(rc)
                   << "- boards will not be detected";
        libusb_exit(m_context);
        m_context = nullptr;
        return false;
    }
    // Notifiers first, so that no descriptor added after the listing is missed.
    libusb_set_pollfd_notifiers(m_context, onPollfdAdded, onPollfdRemoved, this);
    const libusb_pollfd **fds = libusb_get_pollfds(m_context);
    if (!fds) {
        qWarning() << "Failed to get the USB event descriptors - boards will not be detected";
        stop();
        return false;
    }
    for (const libusb_pollfd **it = fds; *it; it++)
        watch((*it)->fd, (*it)->events);
    libusb_free_pollfds(fds);
    return true;
}

void DeviceMonitor::Watcher::stop()
{
    if (!m_context)
        return;
    libusb_set_pollfd_notifiers(m_context, nullptr, nullptr, nullptr);
    // The notifiers go before libusb closes the descriptors they watch.
    for (QSocketNotifier *notifier : m_notifiers)
        delete notifier;
    m_notifiers.clear();
    m_recheck->stop();
    for (const HeldArrival &held : m_held)
        libusb_unref_device(held.device);
    m_held.clear();
    libusb_hotplug_deregister_callback(m_context, m_hotplug);
    libusb_exit(m_context);
    m_context = nullptr;
}

int LIBUSB_CALL DeviceMonitor::Watcher::onHotplug(libusb_context *, libusb_device *device,
                                                  libusb_hotplug_event event, void *user)
{
    auto *watcher = static_cast<Watcher *>(user);
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
        if (configured(device)) {
            watcher->m_pending.append(DeviceArrival);
        } else {
            watcher->m_held.push_back({libusb_ref_device(device), QElapsedTimer()});
            watcher->m_held.back().since.start();
        }
        return 0;
    }
    // A device that leaves while held back was never announced: it changed nothing.
    for (auto it = watcher->m_held.begin(); it != watcher->m_held.end(); ++it) {
        if (it->device == device) {
            libusb_unref_device(it->device);
            watcher->m_held.erase(it);
            return 0;
        }
    }
    watcher->m_pending.append(DeviceRemoveComplete);
    return 0; // stay registered
}

void LIBUSB_CALL DeviceMonitor::Watcher::onPollfdAdded(int fd, short events, void *user)
{
    static_cast<Watcher *>(user)->watch(fd, events);
}

void LIBUSB_CALL DeviceMonitor::Watcher::onPollfdRemoved(int fd, void *user)
{
    static_cast<Watcher *>(user)->unwatch(fd);
}

void DeviceMonitor::Watcher::watch(int fd, short events)
{
    const std::pair<short, QSocketNotifier::Type> kinds[] = {{POLLIN, QSocketNotifier::Read},
                                                             {POLLOUT, QSocketNotifier::Write}};
    for (const auto &kind : kinds) {
        if (!(events & kind.first))
            continue;
        auto *notifier = new QSocketNotifier(fd, kind.second, m_monitor);
        QObject::connect(notifier, &QSocketNotifier::activated, m_monitor,
                         [this] { handleEvents(); });
        m_notifiers.push_back(notifier);
    }
}

// libusb may drop a descriptor while its events are being handled, that is
// from within the notifier's own signal: the notifier is only disabled here
// and deleted once control is back in the event loop.
void DeviceMonitor::Watcher::unwatch(int fd)
{
    for (auto it = m_notifiers.begin(); it != m_notifiers.end();) {
        if ((*it)->socket() == fd) {
            (*it)->setEnabled(false);
            (*it)->deleteLater();
            it = m_notifiers.erase(it);
        } else {
            ++it;
        }
    }
}

// Every change handled in one round is announced, then one nodes-changed
// for the whole round, so a burst of boards gives one rescan.
void DeviceMonitor::Watcher::handleEvents()
{
    timeval zero = {0, 0};
    const int rc = libusb_handle_events_timeout_completed(m_context, &zero, nullptr);
    if (rc < 0)
        qWarning() << "Failed to handle USB events:" << libusb_error_name(rc);
    announce();
}

void DeviceMonitor::Watcher::announce()
{
    for (auto it = m_held.begin(); it != m_held.end();) {
        if (configured(it->device) || it->since.elapsed() >= kConfigureWaitMs) {
            m_pending.append(DeviceArrival);
            libusb_unref_device(it->device);
            it = m_held.erase(it);
        } else {
            ++it;
        }
    }
    if (!m_held.empty())
        m_recheck->start();
    const QVector<int> changes = std::exchange(m_pending, {});
    for (int change : changes)
        emit m_monitor->deviceChanged(change);
    if (!changes.isEmpty())
        emit m_monitor->deviceChanged(DeviceNodesChanged);
}

DeviceMonitor::DeviceMonitor(QObject *parent) : QObject(parent), m_watcher(new Watcher(this)) {}

DeviceMonitor::~DeviceMonitor() = default;

bool DeviceMonitor::start()
{
    return m_watcher->start();
}
