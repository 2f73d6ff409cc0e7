#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// A kernel driver that lies beside the test program, installed as a
// demand-start service with DWORD values in its key, started, and stopped
// and removed again when this goes.
class DriverService
{
public:
    DriverService() = default;
    ~DriverService();
    DriverService(const DriverService&) = delete;
    DriverService& operator=(const DriverService&) = delete;

    // What went wrong, or an empty text once the driver runs.
    std::string start(const std::wstring& image, const std::vector<std::pair<std::wstring, DWORD>>& values);

private:
    // The service manager moves the driver on in its own time.
    bool reaches(DWORD state) const;

    SC_HANDLE m_manager = nullptr;
    SC_HANDLE m_service = nullptr;
};
