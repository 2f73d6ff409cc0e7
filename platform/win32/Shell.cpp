#include "platform/Shell.h"

#include "platform/WinError.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>

namespace platform {

namespace {

// How often the restart's output is collected while it runs.
constexpr DWORD kDrainMs = 20;
// The exit code a restart killed at its time-out is given.
constexpr UINT kKilledExitCode = 0xf291;

// Takes what is in the pipe now, without waiting for its end: explorer.exe,
// started by the command, inherits the pipe and keeps it open.
void drain(HANDLE pipe, std::string& text)
{
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        std::string chunk(available, '\0');
        DWORD got = 0;
        if (!ReadFile(pipe, chunk.data(), available, &got, nullptr) || got == 0)
            return;
        text.append(chunk.data(), got);
    }
}

// The read end stays with us; the write end, inheritable, goes to the child.
bool outputPipe(HANDLE& readEnd, HANDLE& writeEnd)
{
    SECURITY_ATTRIBUTES inheritable { sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE };
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
}

// Collects the output until the process ends or the time is up; then kills it.
void waitCollecting(HANDLE process, HANDLE output, HANDLE errorOutput, unsigned int timeoutMs, ShellRestart& run)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    DWORD waited = WAIT_TIMEOUT;
    while (waited == WAIT_TIMEOUT && GetTickCount64() < deadline) {
        waited = WaitForSingleObject(process, kDrainMs);
        drain(output, run.output);
        drain(errorOutput, run.errorOutput);
    }
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(process, kKilledExitCode);
        WaitForSingleObject(process, INFINITE);
        run.error = winerror::kSemTimeout;
        return;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    run.finished = true;
    run.exitCode = exitCode;
    // An unhandled exception ends a process with its NTSTATUS error code.
    run.crashed = (exitCode & 0xC0000000u) == 0xC0000000u;
}

} // namespace

std::intptr_t shellExecute(const std::string& verb, const std::string& file,
                           const std::string& parameters, int showCommand)
{
    const HINSTANCE result = ShellExecuteA(nullptr, verb.c_str(), file.c_str(), parameters.c_str(),
                                           nullptr, showCommand);
    return reinterpret_cast<std::intptr_t>(result);
}

bool windowsShellAvailable()
{
    return true;
}

ShellRestart restartShell(unsigned int timeoutMs)
{
    ShellRestart run;
    HANDLE outputRead = nullptr, outputWrite = nullptr, errorRead = nullptr, errorWrite = nullptr;
    if (!outputPipe(outputRead, outputWrite) || !outputPipe(errorRead, errorWrite)) {
        run.error = GetLastError();
        CloseHandle(outputRead);
        CloseHandle(outputWrite);
        return run;
    }
    STARTUPINFOA startup {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = outputWrite;
    startup.hStdError = errorWrite;
    std::string commandLine = "cmd.exe /c \"taskkill /f /im explorer.exe && start explorer.exe\"";
    PROCESS_INFORMATION process {};
    const bool started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                        nullptr, nullptr, &startup, &process);
    if (!started)
        run.error = GetLastError();
    // Only the child holds the write ends now.
    CloseHandle(outputWrite);
    CloseHandle(errorWrite);
    if (started) {
        CloseHandle(process.hThread);
        waitCollecting(process.hProcess, outputRead, errorRead, timeoutMs, run);
        CloseHandle(process.hProcess);
    }
    CloseHandle(outputRead);
    CloseHandle(errorRead);
    return run;
}

} // namespace platform
