#include "platform/DeviceIo.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winioctl.h>

namespace platform {

static HANDLE toNative(DeviceHandle handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

DeviceHandle openDevice(const std::wstring& path, std::uint32_t& error)
{
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return kInvalidDeviceHandle;
    }
    error = 0;
    return reinterpret_cast<DeviceHandle>(handle);
}

IoControlResult deviceIoControl(DeviceHandle handle, std::uint32_t code,
                                const void* input, std::uint32_t inputLength,
                                void* output, std::uint32_t outputCapacity)
{
    IoControlResult result;
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(toNative(handle), code, const_cast<void*>(input), inputLength,
                                    output, outputCapacity, &returned, nullptr);
    result.ok = ok != FALSE;
    result.error = result.ok ? 0 : GetLastError();
    result.bytesReturned = returned;
    return result;
}

void closeDevice(DeviceHandle handle)
{
    if (handle != kInvalidDeviceHandle)
        CloseHandle(toNative(handle));
}

} // namespace platform
