#include "driver/DeviceSymlinks.h"

namespace {

std::vector<std::wstring> makeDeviceSymlinks()
{
    std::vector<std::wstring> paths;
    for (int bus = 0; bus < 16; ++bus)
        paths.push_back(L"\\\\.\\KestrumAudioBus" + std::to_wstring(bus));
    return paths;
}

} // namespace

const std::vector<std::wstring> DeviceSymlinks = makeDeviceSymlinks();
