#include "ansi_path_win.h"

#include <windows.h>

std::string toAnsiCodePage(const std::wstring &path)
{
    if (path.empty())
        return {};
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(),
                                           int(path.size()), nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy)
        return {};
    std::string bytes(size_t(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), int(path.size()), &bytes[0],
                        length, nullptr, nullptr);
    return bytes;
}
