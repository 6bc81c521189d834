#include "report_delivery_win.h"

#include <windows.h>

WindowDelivery deliverReportToWindow(const wchar_t *title, uint32_t kind, const char *payload,
                                     size_t size, unsigned answerWaitMs)
{
    // Looked up for every report, so a console restarted during a burn
    // receives the later ones.
    HWND window = FindWindowW(nullptr, title);
    if (!window)
        return WindowDelivery::NoWindow;
    COPYDATASTRUCT data;
    data.dwData = kind;
    data.cbData = DWORD(size);
    data.lpData = const_cast<char *>(payload);
    // A console that hangs must not hold the worker and its board for ever.
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL,
                             answerWaitMs, &result))
        return WindowDelivery::Unanswered;
    return WindowDelivery::Handled;
}
