#pragma once

#include <cstdint>
#include <string>

// The device channel of the kernel driver: open a device object by its
// Windows path, send I/O-control requests, close it. On Windows these are the
// kernel32 calls themselves; elsewhere a stand-in speaks to a simulator over
// Unix-domain sockets. Every call reports a Windows error number.
namespace platform {

// A HANDLE on Windows, a socket descriptor elsewhere.
using DeviceHandle = std::intptr_t;
constexpr DeviceHandle kInvalidDeviceHandle = -1;

struct IoControlResult {
    bool ok = false;                 // the driver call returned TRUE
    std::uint32_t error = 0;         // Windows error number when !ok
    std::uint32_t bytesReturned = 0; // bytes the driver reports, at most the output capacity
    bool channelLost = false;        // the handle fails every later call: open the device again
};

// CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
// nullptr, OPEN_EXISTING, 0, nullptr). Returns kInvalidDeviceHandle and sets
// error on failure.
DeviceHandle openDevice(const std::wstring& path, std::uint32_t& error);

// DeviceIoControl with no overlapped structure. The stand-in never waits
// longer than two seconds for the answer.
IoControlResult deviceIoControl(DeviceHandle handle, std::uint32_t code,
                                const void* input, std::uint32_t inputLength,
                                void* output, std::uint32_t outputCapacity);

// CloseHandle. Closing kInvalidDeviceHandle does nothing.
void closeDevice(DeviceHandle handle);

} // namespace platform
