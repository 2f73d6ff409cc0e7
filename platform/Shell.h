#pragma once

#include <cstdint>
#include <string>

// Starting another program through the shell, as the tray menu opens the
// sound control panel and restarts the Windows shell. On Windows these are
// ShellExecuteA and cmd.exe themselves; elsewhere a stand-in starts the
// program from PATH, and the shell restart is not available.
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

// Whether this system has the Windows programs the tray menu starts: the
// sound control panel and the shell restart.
bool windowsShellAvailable();

// How a shell restart ended: finished (with its exit code, crashed or not),
// or not, with error 121 when it was still running at the time-out and
// killed, or the error that kept it from starting.
struct ShellRestart {
    bool finished = false;
    bool crashed = false;
    std::uint32_t exitCode = 0;
    std::uint32_t error = 0;
    // What it wrote to its standard output and standard error.
    std::string output;
    std::string errorOutput;
};

// Runs cmd.exe /c "taskkill /f /im explorer.exe && start explorer.exe" and
// waits for it at most timeoutMs, so that the system lists its audio
// devices again. Without the Windows shell: not started, error 50 (not
// supported).
ShellRestart restartShell(unsigned int timeoutMs);

} // namespace platform
