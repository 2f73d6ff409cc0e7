// Started by the shell tests through ShellExecuteA: writes what it was
// started with, its arguments one a line and then its show command, to the
// file named by its first argument. The file appears whole or not at all.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    STARTUPINFOW startup {};
    GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;

    const std::string path = argv[1];
    const std::string part = path + ".part";
    {
        std::ofstream out(part);
        for (int i = 2; i < argc; ++i)
            out << argv[i] << '\n';
        out << "show " << show << '\n';
    }
    return MoveFileExA(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
