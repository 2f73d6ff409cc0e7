#include "DiskFlushCounter.h"

#include <atomic>

#include <dlfcn.h>
#include <unistd.h>

namespace {

std::atomic<int> flushes { 0 };

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

namespace DiskFlushCounter {

int count()
{
    return flushes.load();
}

} // namespace DiskFlushCounter

// The executable exports these (ENABLE_EXPORTS), so the shared libraries'
// calls land here before reaching libc.
extern "C" {

int fdatasync(int fd)
{
    static const auto forward = next<int (*)(int)>("fdatasync");
    ++flushes;
    return forward(fd);
}

int fsync(int fd)
{
    static const auto forward = next<int (*)(int)>("fsync");
    ++flushes;
    return forward(fd);
}

void sync()
{
    static const auto forward = next<void (*)()>("sync");
    ++flushes;
    forward();
}

} // extern "C"
