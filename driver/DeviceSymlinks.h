#pragma once

#include <string>
#include <vector>

// The driver's device objects, tried in this order: bus 0 first, up to bus 15.
extern const std::vector<std::wstring> DeviceSymlinks;
