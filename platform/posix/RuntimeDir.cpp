#include "platform/posix/RuntimeDir.h"

#include "platform/WinError.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform::posix {

namespace {

std::string utf8FromWide(const std::wstring& text)
{
    std::string out;
    for (const wchar_t wc : text) {
        const auto c = static_cast<std::uint32_t>(wc);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool isSafeComponent(const std::string& component)
{
    return !component.empty() && component != "." && component != ".."
        && component.find('/') == std::string::npos && component.find('\0') == std::string::npos;
}

// $HOME, or the user database's entry when it is unset.
bool homeDirectory(std::string& home, std::uint32_t& error)
{
    const char* variable = std::getenv("HOME");
    if (variable && *variable) {
        home = variable;
        return true;
    }
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !*found->pw_dir) {
        error = winerror::kPathNotFound;
        return false;
    }
    home = found->pw_dir;
    return true;
}

} // namespace

std::uint32_t windowsErrorFromErrno(int err)
{
    switch (err) {
    case 0:
        return winerror::kSuccess;
    case ENOENT:
    case ECONNREFUSED:
        return winerror::kFileNotFound;
    case ENOTDIR:
        return winerror::kPathNotFound;
    case EACCES:
    case EPERM:
        return winerror::kAccessDenied;
    case ETIMEDOUT:
    case EAGAIN:
        return winerror::kSemTimeout;
    case EMSGSIZE:
        return winerror::kMoreData;
    case ENAMETOOLONG:
        return winerror::kFilenameTooLong;
    case EINVAL:
        return winerror::kInvalidParameter;
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
    case EBADF:
        return winerror::kDeviceNotConnected;
    default:
        return winerror::kGenFailure;
    }
}

bool ensurePrivateDir(const std::string& dir, std::uint32_t& error)
{
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        error = windowsErrorFromErrno(errno);
        return false;
    }
    struct stat info {};
    if (::lstat(dir.c_str(), &info) != 0) {
        error = windowsErrorFromErrno(errno);
        return false;
    }
    // Another user's directory, a link, or one others can write would let
    // someone else reach the device or pose as it.
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        errno = EACCES;
        error = winerror::kAccessDenied;
        return false;
    }
    error = winerror::kSuccess;
    return true;
}

bool runtimeBaseDir(std::string& dir, std::uint32_t& error)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base;
    if (runtime && *runtime) {
        base = std::string(runtime) + "/kestrum";
    } else {
        // Any user may create a name in /tmp first; nobody else can in the
        // user's own home.
        std::string home;
        if (!homeDirectory(home, error))
            return false;
        const std::string cache = home + "/.cache";
        if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) {
            error = windowsErrorFromErrno(errno);
            return false;
        }
        base = cache + "/kestrum";
    }
    dir = base;
    return ensurePrivateDir(base, error);
}

bool socketPathFor(const std::wstring& windowsPath, std::string& socketPath, std::uint32_t& error)
{
    static const std::wstring prefix = L"\\\\.\\";
    if (windowsPath.compare(0, prefix.size(), prefix) != 0 || windowsPath.size() == prefix.size()) {
        error = winerror::kInvalidName;
        return false;
    }
    std::string base;
    if (!runtimeBaseDir(base, error))
        return false;

    std::string mapped = base;
    std::string component;
    const std::string rest = utf8FromWide(windowsPath.substr(prefix.size()));
    for (std::size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || rest[i] == '\\') {
            if (!isSafeComponent(component)) {
                error = winerror::kInvalidName;
                return false;
            }
            mapped += '/' + component;
            component.clear();
        } else {
            component += rest[i];
        }
    }
    socketPath = mapped;
    error = winerror::kSuccess;
    return true;
}

} // namespace platform::posix
