// The worker's Windows report delivery against a real window under wine: the
// console's exact title, the four kinds in order with their bytes, a call
// that returns only after the window has handled the report (or once its
// wait is over), and a silent drop when no console is there.
#include "report_delivery_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const wchar_t kTitle[] = L"Zelkora量产工具 v0.1.8";

struct Received {
    ULONG_PTR kind;
    std::string payload;
};

std::vector<Received> g_received;
int g_handlerDelayMs = 0;

LRESULT CALLBACK consoleProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        const auto *data = reinterpret_cast<const COPYDATASTRUCT *>(lParam);
        g_received.push_back(
            {data->dwData, std::string(static_cast<const char *>(data->lpData), data->cbData)});
        Sleep(DWORD(g_handlerDelayMs));
        return TRUE;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A stand-in for the console window: a hidden top-level window with the
// console's title, served by a message loop on its own thread.
class ConsoleWindow
{
public:
    ConsoleWindow()
    {
        m_thread = std::thread([this] { run(); });
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [this] { return m_window != nullptr || m_failed; });
    }
    ~ConsoleWindow()
    {
        if (m_window)
            PostMessageW(m_window, WM_CLOSE, 0, 0);
        m_thread.join();
    }
    bool created() const { return m_window != nullptr; }

private:
    void run()
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = consoleProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"ReportTestConsole";
        RegisterClassW(&wc);
        HWND window = CreateWindowExW(0, wc.lpszClassName, kTitle, WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                      100, nullptr, nullptr, wc.hInstance, nullptr);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_window = window;
            m_failed = window == nullptr;
        }
        m_ready.notify_all();
        if (!window)
            return;
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0)
            DispatchMessageW(&msg);
        UnregisterClassW(wc.lpszClassName, wc.hInstance);
    }

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    HWND m_window = nullptr;
    bool m_failed = false;
};

WindowDelivery send(uint32_t kind, const std::string &payload, unsigned waitMs = 10000)
{
    return deliverReportToWindow(kTitle, kind, payload.data(), payload.size(), waitMs);
}

} // namespace

TEST(ReportDeliveryWin, ConsoleReceivesEveryKindInOrderAndEachSendWaitsForTheHandler)
{
    g_received.clear();
    ConsoleWindow console;
    ASSERT_TRUE(console.created());

    ASSERT_EQ(send(1, "ZEL_3#0_TOOL"), WindowDelivery::Handled);
    ASSERT_EQ(send(2, "ZEL_3#0_TOOL"), WindowDelivery::Handled);
    ASSERT_EQ(send(3, "ZEL_3#0_TOOL"), WindowDelivery::Handled);
    // A progress count beyond 4 GiB travels as its decimal text.
    ASSERT_EQ(send(1, "ZEL_3#5000000000_TOOL"), WindowDelivery::Handled);

    g_handlerDelayMs = 300;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(send(4, "ZEL_3#1_TOOL"), WindowDelivery::Handled);
    const auto took = std::chrono::steady_clock::now() - start;
    g_handlerDelayMs = 0;

    // The window's thread wrote g_received before SendMessageW returned.
    ASSERT_EQ(g_received.size(), 5u);
    const ULONG_PTR kinds[] = {1, 2, 3, 1, 4};
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(g_received[i].kind, kinds[i]) << i;
    EXPECT_EQ(g_received[0].payload, "ZEL_3#0_TOOL");
    EXPECT_EQ(g_received[3].payload, "ZEL_3#5000000000_TOOL");
    EXPECT_EQ(g_received[4].payload, "ZEL_3#1_TOOL");
    EXPECT_GE(took, std::chrono::milliseconds(300));
}

TEST(ReportDeliveryWin, AHangingConsoleHoldsTheWorkerOnlyForTheWait)
{
    g_received.clear();
    ConsoleWindow console;
    ASSERT_TRUE(console.created());
    g_handlerDelayMs = 2000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(send(1, "ZEL_0#0_TOOL", 200), WindowDelivery::Unanswered);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(200));
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    g_handlerDelayMs = 0;
}

TEST(ReportDeliveryWin, WithoutConsoleTheReportIsDropped)
{
    g_received.clear();
    EXPECT_EQ(send(4, "ZEL_0#0_TOOL"), WindowDelivery::NoWindow);
    EXPECT_TRUE(g_received.empty());
}
