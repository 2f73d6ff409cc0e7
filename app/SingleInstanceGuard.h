#pragma once

#include <QString>

#ifdef Q_OS_WIN
#include <QSharedMemory>
#include <QSystemSemaphore>
#endif

// Lets one copy of the program run per user. On Windows the marker is a
// named shared-memory segment, looked at and created under a named
// semaphore; both names live in the user's session. Elsewhere such names
// would be shared by every user of the machine, so the marker is a lock
// in the user's private runtime directory instead.
class SingleInstanceGuard
{
public:
    enum class Claim {
        First,          // this copy runs; the marker is held until destruction
        AlreadyRunning, // another copy of this user runs
        Failed          // the marker could not be created
    };

    SingleInstanceGuard();
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    Claim claim();
    // Why the marker could not be created, as the system puts it.
    QString failureCause() const { return cause; }

private:
    QString cause;
#ifdef Q_OS_WIN
    QSystemSemaphore semaphore;
    QSharedMemory marker;
#else
    int lock;
#endif
};
