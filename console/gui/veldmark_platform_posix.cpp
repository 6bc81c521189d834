// POSIX: device changes come from libusb hotplug and worker reports from the
// report socket; both reach the handlers the Windows window messages reach.
#include "burn_session.h"
#include "burn_tab.h"
#include "device_monitor.h"
#include "report_receiver.h"
#include "veldmark.h"

#include <QDebug>

void Veldmark::listenToBoardsAndWorkers()
{
    auto *reports = new ReportReceiver(windowTitle(), this);
    connect(reports, &ReportReceiver::reportReceived, m_burnTab, &BurnTab::handleReport);
    if (!reports->listen()) {
        qCritical() << "Failed to listen for burn reports:" << reports->errorString();
        // Boards burned now could not be recorded: none is bound at all.
        m_burnTab->refuseBurning(reports->errorString());
        return;
    }
    m_burnTab->session()->setPendingReportReader([reports] { reports->readPending(); });

    auto *devices = new DeviceMonitor(this);
    connect(devices, &DeviceMonitor::deviceChanged, m_burnTab, &BurnTab::handleDeviceChange);
    devices->start();
}

bool Veldmark::nativeEvent(const QByteArray &, void *, long *)
{
    return false;
}
