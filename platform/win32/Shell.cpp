#include "platform/Shell.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>

namespace platform {

std::intptr_t shellExecute(const std::string& verb, const std::string& file,
                           const std::string& parameters, int showCommand)
{
    const HINSTANCE result = ShellExecuteA(nullptr, verb.c_str(), file.c_str(), parameters.c_str(),
                                           nullptr, showCommand);
    return reinterpret_cast<std::intptr_t>(result);
}

} // namespace platform
