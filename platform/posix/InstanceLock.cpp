#include "platform/posix/InstanceLock.h"

#include "platform/WinError.h"
#include "platform/posix/RuntimeDir.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>

namespace platform::posix {

namespace {

int failed(const std::string& dir, std::uint32_t& error, std::string& cause)
{
    cause = dir + ": " + std::generic_category().message(errno);
    error = windowsErrorFromErrno(errno);
    return kNoInstanceLock;
}

} // namespace

int takeInstanceLock(const std::string& name, std::uint32_t& error, std::string& cause)
{
    std::string base;
    if (!runtimeBaseDir(base, error))
        return failed(base, error, cause);
    const std::string path = base + "/" + name + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return failed(base, error, cause);
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno == EWOULDBLOCK)
            error = winerror::kAlreadyExists;
        else
            failed(base, error, cause);
        ::close(fd);
        return kNoInstanceLock;
    }
    error = winerror::kSuccess;
    return fd;
}

void releaseInstanceLock(int lock)
{
    if (lock != kNoInstanceLock)
        ::close(lock);
}

} // namespace platform::posix
