#include "report_delivery_win.h"

#include <windows.h>

bool deliverReportToWindow(const wchar_t *title, uint32_t kind, const char *payload, size_t size)
{
    // Looked up for every report, so a console restarted during a burn
    // receives the later ones.
    HWND window = FindWindowW(nullptr, title);
    if (!window)
        return false;
    COPYDATASTRUCT data;
    data.dwData = kind;
    data.cbData = DWORD(size);
    data.lpData = const_cast<char *>(payload);
    SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    return true;
}
