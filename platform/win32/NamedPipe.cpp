#include "platform/NamedPipe.h"

#include "platform/WinError.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace platform {

struct PipeObject {
    bool server = false;
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Manual-reset: once set it releases every wait on the handle.
    HANDLE stopEvent = nullptr;
    HANDLE ioEvent = nullptr;
};

namespace {

constexpr DWORD kPipeTimeoutMs = 300;

bool stopRequested(const PipeObject& pipe)
{
    return WaitForSingleObject(pipe.stopEvent, 0) == WAIT_OBJECT_0;
}

// Finishes an overlapped operation that is pending, unless the waits are
// released first; then the operation is cancelled and reaped before return,
// so the OVERLAPPED on the caller's stack is never used afterwards.
bool finishPending(PipeObject& pipe, OVERLAPPED& overlapped, DWORD& transferred, std::uint32_t& error,
                   DWORD timeoutMs)
{
    HANDLE events[2] = { pipe.stopEvent, pipe.ioEvent };
    const DWORD woken = WaitForMultipleObjects(2, events, FALSE, timeoutMs);
    if (woken != WAIT_OBJECT_0 + 1) {
        CancelIoEx(pipe.handle, &overlapped);
        GetOverlappedResult(pipe.handle, &overlapped, &transferred, TRUE);
        error = woken == WAIT_TIMEOUT ? winerror::kSemTimeout : winerror::kOperationAborted;
        return false;
    }
    if (!GetOverlappedResult(pipe.handle, &overlapped, &transferred, FALSE)) {
        error = GetLastError();
        return false;
    }
    return true;
}

// Runs one overlapped call on a server handle and waits for its end.
template <typename Call>
bool runOverlapped(PipeObject& pipe, Call call, DWORD& transferred, std::uint32_t& error,
                   DWORD timeoutMs = INFINITE)
{
    transferred = 0;
    if (stopRequested(pipe)) {
        error = winerror::kOperationAborted;
        return false;
    }
    OVERLAPPED overlapped {};
    overlapped.hEvent = pipe.ioEvent;
    if (call(overlapped)) {
        GetOverlappedResult(pipe.handle, &overlapped, &transferred, FALSE);
        error = winerror::kSuccess;
        return true;
    }
    const DWORD failure = GetLastError();
    if (failure != ERROR_IO_PENDING) {
        error = failure;
        return false;
    }
    return finishPending(pipe, overlapped, transferred, error, timeoutMs);
}

void closeEvent(HANDLE event)
{
    if (event)
        CloseHandle(event);
}

} // namespace

PipeHandle createNamedPipe(const std::wstring& path, std::uint32_t& error)
{
    const HANDLE handle = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                           PIPE_UNLIMITED_INSTANCES, kPipeBufferBytes, kPipeBufferBytes,
                                           kPipeTimeoutMs, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return kInvalidPipeHandle;
    }
    auto* pipe = new PipeObject;
    pipe->server = true;
    pipe->handle = handle;
    pipe->stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    pipe->ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!pipe->stopEvent || !pipe->ioEvent) {
        error = GetLastError();
        closePipe(pipe);
        return kInvalidPipeHandle;
    }
    error = winerror::kSuccess;
    return pipe;
}

bool connectNamedPipe(PipeHandle pipe, std::uint32_t& error)
{
    if (pipe == kInvalidPipeHandle || !pipe->server) {
        error = winerror::kInvalidHandle;
        return false;
    }
    DWORD unused = 0;
    return runOverlapped(*pipe, [pipe](OVERLAPPED& overlapped) {
        return ConnectNamedPipe(pipe->handle, &overlapped) != FALSE;
    }, unused, error);
}

bool readPipe(PipeHandle pipe, void* buffer, std::uint32_t capacity,
              std::uint32_t& bytesRead, std::uint32_t& error, int timeoutMs)
{
    bytesRead = 0;
    if (pipe == kInvalidPipeHandle) {
        error = winerror::kInvalidHandle;
        return false;
    }
    DWORD transferred = 0;
    bool ok;
    if (pipe->server) {
        ok = runOverlapped(*pipe, [pipe, buffer, capacity](OVERLAPPED& overlapped) {
            return ReadFile(pipe->handle, buffer, capacity, nullptr, &overlapped) != FALSE;
        }, transferred, error, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    } else {
        ok = ReadFile(pipe->handle, buffer, capacity, &transferred, nullptr) != FALSE;
        error = ok ? winerror::kSuccess : GetLastError();
    }
    bytesRead = transferred;
    return ok;
}

bool writePipe(PipeHandle pipe, const void* data, std::uint32_t length, std::uint32_t& error)
{
    if (pipe == kInvalidPipeHandle) {
        error = winerror::kInvalidHandle;
        return false;
    }
    DWORD written = 0;
    if (pipe->server) {
        return runOverlapped(*pipe, [pipe, data, length](OVERLAPPED& overlapped) {
            return WriteFile(pipe->handle, data, length, nullptr, &overlapped) != FALSE;
        }, written, error);
    }
    const bool ok = WriteFile(pipe->handle, data, length, &written, nullptr) != FALSE;
    error = ok ? winerror::kSuccess : GetLastError();
    return ok;
}

void disconnectNamedPipe(PipeHandle pipe)
{
    if (pipe != kInvalidPipeHandle && pipe->server)
        DisconnectNamedPipe(pipe->handle);
}

void cancelPipeWaits(PipeHandle pipe)
{
    if (pipe != kInvalidPipeHandle && pipe->stopEvent)
        SetEvent(pipe->stopEvent);
}

PipeHandle openPipe(const std::wstring& path, std::uint32_t& error)
{
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                      SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return kInvalidPipeHandle;
    }
    auto* pipe = new PipeObject;
    pipe->handle = handle;
    error = winerror::kSuccess;
    return pipe;
}

void closePipe(PipeHandle pipe)
{
    if (pipe == kInvalidPipeHandle)
        return;
    if (pipe->handle != INVALID_HANDLE_VALUE)
        CloseHandle(pipe->handle);
    closeEvent(pipe->stopEvent);
    closeEvent(pipe->ioEvent);
    delete pipe;
}

} // namespace platform
