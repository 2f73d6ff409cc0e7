#pragma once

#include <cstdint>
#include <string>

// Starting another program through the shell, as the tray menu opens the
// sound control panel. On Windows this is ShellExecuteA itself; elsewhere a
// stand-in starts the program from PATH.
namespace platform {

// SW_SHOWNORMAL.
constexpr int kShowNormal = 1;

// ShellExecuteA(nullptr, verb, file, parameters, nullptr, showCommand): starts
// file with parameters and does not wait for it. Returns ShellExecuteA's raw
// result: above 32 on success, 32 or less (its error number) on failure.
// The stand-in starts file from PATH with parameters split on spaces, in a
// session of its own, and returns 42 when it started or 2 when it could not;
// it has no use for the verb or the show command.
std::intptr_t shellExecute(const std::string& verb, const std::string& file,
                           const std::string& parameters, int showCommand);

} // namespace platform
