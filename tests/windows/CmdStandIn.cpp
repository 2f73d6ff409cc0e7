// Stands in for cmd.exe in the shell restart tests, found in the current
// directory before the system's: what it does is named by the KESTRUM_CMD
// variable of its test.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    const char* variable = std::getenv("KESTRUM_CMD");
    const std::string mode = variable ? variable : "";
    if (mode == "restart")
        return argc == 3 && std::string(argv[1]) == "/c"
                && std::string(argv[2]) == "taskkill /f /im explorer.exe && start explorer.exe" ? 0 : 1;
    std::printf("%lu\n", GetCurrentProcessId());
    std::fflush(stdout);
    std::fprintf(stderr, "denied\n");
    if (mode == "hang")
        Sleep(60000);
    if (mode == "crash")
        ExitProcess(0xC0000005);
    return 128;
}
