// Serial port on Windows: the COM-port calls with the projector's settings
// and time-outs, synchronous (non-overlapped) I/O.
#include "serial/SerialPlatform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace serialplatform
{

struct Port {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::atomic<bool> interrupted{false};
};

namespace
{

std::string systemMessage(DWORD error)
{
    char *text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                   reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string message = n && text ? std::string(text, n) : std::string();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

OpenFailure describeFailure(const std::string &path, DWORD error)
{
    OpenFailure f;
    f.path = path;
    f.systemCode = int(error);
    f.systemText = systemMessage(error);
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        f.error = OpenError::NoDevice;
        break;
    case ERROR_ACCESS_DENIED: // what a COM port another program holds gives
    case ERROR_SHARING_VIOLATION:
        f.error = OpenError::Busy;
        break;
    default:
        f.error = OpenError::Other;
        break;
    }
    return f;
}

// The projector's time-outs.
COMMTIMEOUTS projectorTimeouts()
{
    COMMTIMEOUTS timeouts;
    timeouts.ReadIntervalTimeout = kReadIntervalMs;
    timeouts.ReadTotalTimeoutMultiplier = kReadMsPerByte;
    timeouts.ReadTotalTimeoutConstant = kReadConstantMs;
    timeouts.WriteTotalTimeoutMultiplier = kWriteMsPerByte;
    timeouts.WriteTotalTimeoutConstant = kWriteConstantMs;
    return timeouts;
}

} // namespace

Port *open(const std::string &path, OpenFailure *failure)
{
    if (path.empty()) {
        if (failure) {
            *failure = OpenFailure();
            failure->error = OpenError::NoPort;
        }
        return nullptr;
    }
    const int wideLength = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    if (wideLength <= 0) {
        if (failure)
            *failure = describeFailure(path, GetLastError());
        return nullptr;
    }
    std::vector<wchar_t> wide(std::size_t(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), wideLength);

    // Read and write, no sharing (exclusive), open only if it exists,
    // synchronous I/O.
    const HANDLE h = CreateFileW(wide.data(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (failure)
            *failure = describeFailure(path, GetLastError());
        return nullptr;
    }
    Port *port = new Port;
    port->handle = h;
    return port;
}

void configure(Port *port)
{
    const HANDLE h = port->handle;
    SetupComm(h, kQueueSize, kQueueSize);

    DCB dcb;
    ZeroMemory(&dcb, sizeof(dcb));
    dcb.DCBlength = sizeof(DCB);
    GetCommState(h, &dcb);
    // Everything else (flow control, handshake lines, special characters)
    // stays as the system reported it.
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = kBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    SetCommState(h, &dcb);

    PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR); // 0x000C

    COMMTIMEOUTS timeouts = projectorTimeouts();
    SetCommTimeouts(h, &timeouts);

    SetCommMask(h, EV_TXEMPTY | EV_CTS); // 0x000C
}

bool write(Port *port, const void *data, std::size_t length)
{
    DWORD written = 0;
    const BOOL ok = !port->interrupted.load() &&
                    WriteFile(port->handle, data, DWORD(length), &written, nullptr);
    // When the write time-out expires (a stalled line, say, with hardware
    // flow control on), WriteFile returns TRUE with a short count: the bytes
    // did not go out, so that is a failed write too.
    if (!ok || written != DWORD(length)) {
        PurgeComm(port->handle,
                  PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR); // 0x000F
        return false;
    }
    return true;
}

long read(Port *port, void *buffer, std::size_t n, long timeoutMs)
{
    if (n == 0)
        return 0;
    if (port->interrupted.load())
        return -1;
    // Time-outs belong to the handle: a read with its own sets them for this
    // call and puts the projector's back after it. The write time-outs stay
    // as they are, so a write on another thread is not affected.
    if (timeoutMs >= 0) {
        COMMTIMEOUTS timeouts = projectorTimeouts();
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = DWORD(timeoutMs > 0 ? timeoutMs : 1);
        SetCommTimeouts(port->handle, &timeouts);
    }
    DWORD got = 0;
    const BOOL ok = ReadFile(port->handle, buffer, DWORD(n), &got, nullptr);
    if (timeoutMs >= 0) {
        COMMTIMEOUTS timeouts = projectorTimeouts();
        SetCommTimeouts(port->handle, &timeouts);
    }
    if (!ok)
        return got > 0 ? long(got) : -1;
    return long(got);
}

long queued(Port *port)
{
    DWORD errors = 0;
    COMSTAT status;
    ZeroMemory(&status, sizeof(status));
    if (!ClearCommError(port->handle, &errors, &status))
        return -1;
    return long(status.cbInQue);
}

void purgeReceive(Port *port)
{
    PurgeComm(port->handle, PURGE_RXABORT | PURGE_RXCLEAR); // 0x000A
}

void interrupt(Port *port)
{
    port->interrupted.store(true);
    // Ends a synchronous ReadFile or WriteFile that another thread waits in.
    // The caller repeats this until the other thread has left, which covers
    // a call that had not quite begun the first time.
    CancelIoEx(port->handle, nullptr);
}

void close(Port *port)
{
    if (!port)
        return;
    if (port->handle != INVALID_HANDLE_VALUE)
        CloseHandle(port->handle);
    delete port;
}

std::string devicePathForNumber(int n)
{
    // "\\.\COM" followed by the number in decimal, any length.
    char digits[128];
    std::snprintf(digits, sizeof(digits), "%d", n);
    return std::string("\\\\.\\COM") + digits;
}

} // namespace serialplatform
