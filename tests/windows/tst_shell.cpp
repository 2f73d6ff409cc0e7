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

namespace {

std::string besideThisProgram(const std::string& name)
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string program(path, length);
    return program.substr(0, program.find_last_of('\\') + 1) + name;
}

std::string temporaryFile(const char* name)
{
    char dir[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, dir);
    return std::string(dir, length) + "kestrum-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

// The started program runs on its own: wait for what it writes.
std::string waitForFile(const std::string& path)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream file(path);
        if (file) {
            std::ostringstream text;
            text << file.rdbuf();
            return text.str();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
}

} // namespace

TEST(ShellExecute, StartsTheProgramWithItsParametersAndShowCommand)
{
    const std::string report = temporaryFile("shell-probe.txt");
    DeleteFileA(report.c_str());

    const std::intptr_t result = shellExecute("open", besideThisProgram("kestrum_shell_probe.exe"),
                                              report + " mmsys.cpl second", kShowNormal);
    EXPECT_GT(result, 32);
    EXPECT_EQ(waitForFile(report), "mmsys.cpl\nsecond\nshow 1\n");
    DeleteFileA(report.c_str());
}

TEST(ShellExecute, AProgramThatIsNotThereFails)
{
    const std::intptr_t result = shellExecute("open", "kestrum-no-such-program.exe", "mmsys.cpl", kShowNormal);
    // SE_ERR_FNF: file not found, the number the stand-in reports as well.
    EXPECT_EQ(result, 2);
}
