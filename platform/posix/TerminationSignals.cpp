#include "platform/posix/TerminationSignals.h"

#include "platform/posix/RuntimeDir.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform::posix {

namespace {

// A signal handler can reach nothing but process-wide state: the write end.
volatile std::sig_atomic_t signalPipeWriteEnd = -1;

void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipeWriteEnd, &byte, 1);
    errno = savedErrno;
}

} // namespace

int watchTerminationSignals(std::uint32_t& error)
{
    static int readEnd = -1;
    if (readEnd >= 0)
        return readEnd;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = windowsErrorFromErrno(errno);
        return -1;
    }
    signalPipeWriteEnd = ends[1];
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction(signalNumber, &action, nullptr);
    readEnd = ends[0];
    return readEnd;
}

bool takeTerminationSignals(int watchFd)
{
    unsigned char bytes[16];
    bool any = false;
    while (::read(watchFd, bytes, sizeof bytes) > 0)
        any = true;
    return any;
}

} // namespace platform::posix
