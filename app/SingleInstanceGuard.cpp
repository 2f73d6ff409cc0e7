#include "app/SingleInstanceGuard.h"

#ifndef Q_OS_WIN
#include "platform/posix/InstanceLock.h"
#include "platform/WinError.h"
#endif

namespace {

const char* const kSharedMemoryKey = "KestrumQtDriverSharedMemory";

} // namespace

#ifdef Q_OS_WIN

namespace {

const char* const kSemaphoreKey = "KestrumQtDriverSemaphore";

} // namespace

SingleInstanceGuard::SingleInstanceGuard()
    : semaphore(kSemaphoreKey, 1, QSystemSemaphore::Open)
    , marker(kSharedMemoryKey)
{
}

SingleInstanceGuard::~SingleInstanceGuard() = default;

// The semaphore serialises copies started at the same moment, so exactly
// one of them creates the marker.
SingleInstanceGuard::Claim SingleInstanceGuard::claim()
{
    semaphore.acquire();
    Claim result = Claim::First;
    if (marker.attach(QSharedMemory::ReadWrite))
        result = Claim::AlreadyRunning;
    else if (!marker.create(1, QSharedMemory::ReadWrite)) {
        result = Claim::Failed;
        cause = marker.errorString();
    }
    semaphore.release();
    return result;
}

#else

SingleInstanceGuard::SingleInstanceGuard()
    : lock(platform::posix::kNoInstanceLock)
{
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    platform::posix::releaseInstanceLock(lock);
}

SingleInstanceGuard::Claim SingleInstanceGuard::claim()
{
    std::uint32_t error = 0;
    std::string lockCause;
    lock = platform::posix::takeInstanceLock(kSharedMemoryKey, error, lockCause);
    if (lock != platform::posix::kNoInstanceLock)
        return Claim::First;
    if (error == platform::winerror::kAlreadyExists)
        return Claim::AlreadyRunning;
    cause = QString::fromStdString(lockCause);
    return Claim::Failed;
}

#endif
