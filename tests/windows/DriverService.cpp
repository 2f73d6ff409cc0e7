#include "DriverService.h"

#include <chrono>
#include <thread>

DriverService::~DriverService()
{
    if (m_service) {
        SERVICE_STATUS status;
        if (ControlService(m_service, SERVICE_CONTROL_STOP, &status))
            reaches(SERVICE_STOPPED);
        DeleteService(m_service);
        CloseServiceHandle(m_service);
    }
    if (m_manager)
        CloseServiceHandle(m_manager);
}

std::string DriverService::start(const std::wstring& image, const std::vector<std::pair<std::wstring, DWORD>>& values)
{
    const std::wstring name = image.substr(0, image.find(L'.')) + std::to_wstring(GetCurrentProcessId());
    wchar_t path[MAX_PATH];
    const std::wstring program(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    const std::wstring imagePath = program.substr(0, program.find_last_of(L'\\') + 1) + image;
    m_manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (!m_manager)
        return "no service manager: error " + std::to_string(GetLastError());
    m_service = CreateServiceW(m_manager, name.c_str(), name.c_str(), SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE,
                               SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, imagePath.c_str(), nullptr,
                               nullptr, nullptr, nullptr, nullptr);
    if (!m_service)
        return "service not created: error " + std::to_string(GetLastError());
    const std::wstring key = L"System\\CurrentControlSet\\Services\\" + name;
    for (const auto& [value, data] : values) {
        if (RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), value.c_str(), REG_DWORD, &data, sizeof data) != ERROR_SUCCESS)
            return "service key not written";
    }
    if (!StartServiceW(m_service, 0, nullptr))
        return "driver not started: error " + std::to_string(GetLastError());
    return reaches(SERVICE_RUNNING) ? std::string() : "driver never ran";
}

bool DriverService::reaches(DWORD state) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    SERVICE_STATUS status {};
    while (QueryServiceStatus(m_service, &status) && status.dwCurrentState != state && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return status.dwCurrentState == state;
}
