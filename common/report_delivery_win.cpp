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
    // A console that hangs must not hold the worker and its board for ever,
    // except for a report the caller must not lose (no timeout given).
    DWORD_PTR result = 0;
    if (answerWaitMs == kNoAnswerTimeout) {
        SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
        // A window that went away meanwhile handled nothing.
        return IsWindow(window) ? WindowDelivery::Handled : WindowDelivery::NoWindow;
    }
    if (!SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL,
                             answerWaitMs, &result))
        return WindowDelivery::Unanswered;
    return WindowDelivery::Handled;
}
