#pragma once
// Watches the bus for boards in upgrade mode arriving and leaving, and tells
// the console with the notifications of device_change.h: DeviceArrival or
// DeviceRemoveComplete for each change, then one DeviceNodesChanged for all
// the changes seen together. Runs in the thread's event loop: no thread of
// its own and no polling.

#include <QObject>

#include <memory>

class DeviceMonitor : public QObject
{
    Q_OBJECT

public:
    explicit DeviceMonitor(QObject *parent = nullptr);
    ~DeviceMonitor() override;

    // Starts watching; true when it already does. False, with a warning in
    // the log, when device changes cannot be watched here.
    bool start();

signals:
    void deviceChanged(int event);

private:
    class Watcher;
    std::unique_ptr<Watcher> m_watcher;
};
