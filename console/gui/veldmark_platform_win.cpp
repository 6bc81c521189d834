// Windows: device changes (WM_DEVICECHANGE) and worker reports (WM_COPYDATA)
// arrive as messages to this window. Built only with Qt for Windows.
#include "burn_tab.h"
#include "veldmark.h"

#include <windows.h>

void Veldmark::listenToBoardsAndWorkers()
{
    // Nothing to set up: the window's title is the workers' address.
}

bool Veldmark::nativeEvent(const QByteArray &eventType, void *message, long *)
{
    if (eventType != "windows_generic_MSG")
        return false;
    const MSG *msg = static_cast<const MSG *>(message);
    if (msg->message == WM_DEVICECHANGE) {
        m_burnTab->handleDeviceChange(int(msg->wParam));
    } else if (msg->message == WM_COPYDATA) {
        const auto *data = reinterpret_cast<const COPYDATASTRUCT *>(msg->lParam);
        m_burnTab->handleReport(quint32(data->dwData),
                                QByteArray(static_cast<const char *>(data->lpData), int(data->cbData)));
    }
    // Qt's own handling goes on.
    return false;
}
