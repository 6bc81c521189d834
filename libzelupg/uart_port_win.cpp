// Serial ports over the Windows COM-port API. The port name is "COM" and a
// decimal number; the port's own time-outs bound every read, and waiting for
// input polls the port's input count every 10 ms.
#include "uart_port.h"
#include "zelupg_log.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

constexpr DWORD kReadConstantMs = 50;
constexpr DWORD kPerByteMs = 10;
constexpr int kPollMs = 10;

struct WinPort {
    HANDLE handle = INVALID_HANDLE_VALUE;
};

int port_write(void *port, const uint8_t *data, int len)
{
    DWORD written = 0;
    if (!WriteFile(static_cast<WinPort *>(port)->handle, data, DWORD(len), &written, nullptr))
        return -1;
    return int(written);
}

int port_read(void *port, uint8_t *buf, int len)
{
    DWORD got = 0;
    if (!ReadFile(static_cast<WinPort *>(port)->handle, buf, DWORD(len), &got, nullptr))
        return -1;
    return int(got);
}

int port_wait_input(void *port, int count, int timeout_ms)
{
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeout_ms);
    for (;;) {
        COMSTAT status;
        DWORD errors = 0;
        if (!ClearCommError(static_cast<WinPort *>(port)->handle, &errors, &status))
            return -1;
        if (status.cbInQue >= DWORD(count))
            return 1;
        if (GetTickCount64() >= deadline)
            return 0;
        Sleep(kPollMs);
    }
}

void port_discard_input(void *port)
{
    PurgeComm(static_cast<WinPort *>(port)->handle, PURGE_RXCLEAR);
}

void port_close(void *port)
{
    auto *p = static_cast<WinPort *>(port);
    if (p->handle != INVALID_HANDLE_VALUE)
        CloseHandle(p->handle);
    delete p;
}

const uart_port_ops kOps = {port_write, port_read, port_wait_input, port_discard_input, port_close};

bool apply(HANDLE handle, DCB *dcb, const char *failure)
{
    if (SetCommState(handle, dcb))
        return true;
    upg_err_as("uart_port_setup", "%s", failure);
    return false;
}

// Time-outs, the receive event, then 115200 baud, 8 data bits, one stop bit,
// no parity, each set on its own; both directions purged.
bool port_setup(HANDLE handle)
{
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = kPerByteMs;
    timeouts.ReadTotalTimeoutConstant = kReadConstantMs;
    timeouts.WriteTotalTimeoutMultiplier = kPerByteMs;
    timeouts.WriteTotalTimeoutConstant = kReadConstantMs;
    if (!SetCommTimeouts(handle, &timeouts)) {
        upg_err_as("uart_port_setup", "Failed to setup comm timeout");
        return false;
    }
    if (!SetCommMask(handle, EV_RXCHAR)) {
        upg_err_as("uart_port_setup", "Failed to setup EV_RXCHAR");
        return false;
    }
    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(handle, &dcb)) {
        upg_err_as("uart_port_setup", "Failed to get comm state");
        return false;
    }
    dcb.BaudRate = CBR_115200;
    if (!apply(handle, &dcb, "Failed to set baudrate"))
        return false;
    dcb.ByteSize = 8;
    if (!apply(handle, &dcb, "Failed to set databits"))
        return false;
    dcb.StopBits = ONESTOPBIT;
    if (!apply(handle, &dcb, "Failed to set stopbits"))
        return false;
    dcb.Parity = NOPARITY;
    if (!apply(handle, &dcb, "Failed to set parity"))
        return false;
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    return true;
}

}  // namespace

void *uart_port_open(const char *port_name)
{
    // "COM" and a number: the number is read after the first three characters.
    if (!port_name || std::strlen(port_name) < 4)
        return nullptr;
    char *end = nullptr;
    const long number = std::strtol(port_name + 3, &end, 10);
    if (*end != '\0' || number <= 0 || number > 255) {
        upg_err("Failed to open COM device.");
        return nullptr;
    }
    auto *p = new (std::nothrow) WinPort;
    if (!p) {
        upg_err("Failed to malloc.");
        return nullptr;
    }
    wchar_t path[32];
    swprintf(path, sizeof path / sizeof path[0], L"\\\\.\\COM%ld", number);
    p->handle = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (p->handle == INVALID_HANDLE_VALUE) {
        upg_err("Failed to open COM device.");
        port_close(p);
        return nullptr;
    }
    if (!port_setup(p->handle)) {
        port_close(p);
        return nullptr;
    }
    return p;
}

const uart_port_ops *uart_port_platform_ops(void)
{
    return &kOps;
}
