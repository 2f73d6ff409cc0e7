#include "platform/Shell.h"

#include "platform/WinError.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

namespace {

// Any value above 32 means success to the caller, as with ShellExecuteA.
constexpr std::intptr_t kStarted = 42;
constexpr std::intptr_t kCannotStart = winerror::kFileNotFound;

bool isExecutableFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The program's path as execvp would find it; empty when there is none.
// Resolved before forking, so that the child only has to call execv.
std::string findOnPath(const std::string& file)
{
    if (file.empty())
        return {};
    if (file.find('/') != std::string::npos)
        return isExecutableFile(file) ? file : std::string();
    const char* path = std::getenv("PATH");
    std::istringstream entries(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(entries, dir, ':')) {
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + file;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return {};
}

std::vector<std::string> commandLine(const std::string& file, const std::string& parameters)
{
    std::vector<std::string> words { file };
    std::istringstream split(parameters);
    std::string word;
    while (split >> word)
        words.push_back(word);
    return words;
}

bool waitForExit(pid_t child, int& status)
{
    pid_t waited;
    do {
        waited = ::waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    return waited == child;
}

// Reads the grandchild's report: end of file means execv succeeded and
// closed the close-on-exec pipe; one byte means it failed.
bool execSucceeded(int reportFd)
{
    char failed = 0;
    ssize_t got;
    do {
        got = ::read(reportFd, &failed, 1);
    } while (got < 0 && errno == EINTR);
    return got == 0;
}

// Between fork and exec only async-signal-safe calls: the caller may have
// other threads. The middle process leaves at once, so the program is
// nobody's child here and no zombie is left behind.
[[noreturn]] void startDetached(const std::string& program, char* const argv[], int reportFd)
{
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
        ::execv(program.c_str(), argv);
        const char failed = 1;
        [[maybe_unused]] const ssize_t written = ::write(reportFd, &failed, 1);
        ::_exit(127);
    }
    ::_exit(grandchild < 0 ? 1 : 0);
}

} // namespace

std::intptr_t shellExecute(const std::string&, const std::string& file, const std::string& parameters, int)
{
    const std::string program = findOnPath(file);
    if (program.empty())
        return kCannotStart;
    std::vector<std::string> words = commandLine(file, parameters);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return kCannotStart;
    const pid_t child = ::fork();
    if (child == 0)
        startDetached(program, argv.data(), report[1]);
    ::close(report[1]);
    int status = 0;
    const bool started = child > 0 && waitForExit(child, status) && WIFEXITED(status)
        && WEXITSTATUS(status) == 0 && execSucceeded(report[0]);
    ::close(report[0]);
    return started ? kStarted : kCannotStart;
}

bool windowsShellAvailable()
{
    return false;
}

ShellRestart restartShell(unsigned int)
{
    ShellRestart run;
    run.error = winerror::kNotSupported;
    return run;
}

} // namespace platform
