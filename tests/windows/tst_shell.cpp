// The shell calls under Wine: ShellExecuteA starts a real program with the
// parameters and show command it was given, and reports a program that is
// not there with a result of 32 or less; the shell restart runs cmd.exe.

#include "platform/Shell.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;

TEST(ShellExecute, StartsAProgramOrSaysItIsNotThere)
{
    char buffer[MAX_PATH];
    const std::string program(buffer, GetModuleFileNameA(nullptr, buffer, MAX_PATH));
    const std::string probe = program.substr(0, program.find_last_of('\\') + 1) + "kestrum_shell_probe.exe";
    const std::string report = std::string(buffer, GetTempPathA(MAX_PATH, buffer)) + "kestrum-shell-"
        + std::to_string(GetCurrentProcessId()) + ".txt";
    EXPECT_GT(shellExecute("open", probe, report + " mmsys.cpl second", kShowNormal), 32);

    // The started program runs on its own: wait for what it writes.
    std::string started;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (started.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        std::ostringstream text;
        text << std::ifstream(report).rdbuf();
        started = text.str();
    }
    DeleteFileA(report.c_str());
    EXPECT_EQ(started, "mmsys.cpl\nsecond\nshow 1\n");

    // SE_ERR_FNF: file not found, the number the stand-in reports as well.
    EXPECT_EQ(shellExecute("open", "kestrum-no-such-program.exe", "mmsys.cpl", kShowNormal), 2);
}

// The shell restart against the stand-in cmd.exe: how it ended, what it
// wrote, and that one still running at the time-out is gone after the call.
TEST(ShellRestart, EndsAsTheCommandDid)
{
    struct Case {
        const char* mode;
        bool finished;
        bool crashed;
        std::uint32_t exitCode;
        std::uint32_t error;
    };
    char buffer[MAX_PATH];
    const std::string program(buffer, GetModuleFileNameA(nullptr, buffer, MAX_PATH));
    ASSERT_TRUE(SetCurrentDirectoryA((program.substr(0, program.find_last_of('\\') + 1) + "cmd-stand-in").c_str()));
    for (const Case& c : { Case { "restart", true, false, 0, 0 }, Case { "fail", true, false, 128, 0 },
                           Case { "crash", true, true, 0xC0000005, 0 }, Case { "hang", false, false, 0, 121 } }) {
        SetEnvironmentVariableA("KESTRUM_CMD", c.mode);
        const ShellRestart run = restartShell(1000);
        EXPECT_EQ(run.finished, c.finished) << c.mode;
        EXPECT_EQ(run.crashed, c.crashed) << c.mode;
        EXPECT_EQ(run.exitCode, c.exitCode) << c.mode;
        EXPECT_EQ(run.error, c.error) << c.mode;
        if (std::string(c.mode) == "restart")
            continue;
        EXPECT_EQ(run.errorOutput, "denied\r\n") << c.mode;
        const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, std::stoul(run.output));
        EXPECT_TRUE(!process || WaitForSingleObject(process, 0) == WAIT_OBJECT_0) << c.mode;
        CloseHandle(process);
    }
}
