// The shell call under Wine: ShellExecuteA starts a real program with the
// parameters and show command it was given, and reports a program that is
// not there with a result of 32 or less.

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
