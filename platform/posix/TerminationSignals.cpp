#include "platform/posix/TerminationSignals.h"

#include "platform/posix/RuntimeDir.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform::posix {

namespace {

// How long the program has to answer a termination signal before it ends
// as if it had none of its own handling.
constexpr unsigned int kAnswerLimitSeconds = 5;

// A signal handler can reach nothing but process-wide state: the write end,
// and the signal that asked first.
volatile std::sig_atomic_t signalPipeWriteEnd = -1;
volatile std::sig_atomic_t firstSignal = 0;

void setAction(int signalNumber, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    // The handlers never interrupt one another, so exactly one signal is the first.
    sigemptyset(&action.sa_mask);
    for (int blocked : { SIGTERM, SIGINT, SIGHUP, SIGALRM })
        sigaddset(&action.sa_mask, blocked);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

// Delivered as soon as the handler returns, with the system's own action.
void endAsTheSignalWould(int signalNumber)
{
    setAction(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

// A GUI thread that is stuck never reads the pipe: a second signal, or the
// first one left unanswered, ends the process at once.
void onTerminationSignal(int signalNumber)
{
    if (firstSignal != 0) {
        endAsTheSignalWould(signalNumber);
        return;
    }
    firstSignal = signalNumber;
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipeWriteEnd, &byte, 1);
    ::alarm(kAnswerLimitSeconds);
    errno = savedErrno;
}

void onUnanswered(int)
{
    endAsTheSignalWould(firstSignal);
}

bool ignoredAtStart(int signalNumber)
{
    struct sigaction current {};
    ::sigaction(signalNumber, nullptr, &current);
    return current.sa_handler == SIG_IGN;
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
    setAction(SIGALRM, onUnanswered);
    // One that was ignored at start stays so: nohup's SIGHUP, a background job's SIGINT.
    for (int signalNumber : { SIGTERM, SIGINT, SIGHUP }) {
        if (!ignoredAtStart(signalNumber))
            setAction(signalNumber, onTerminationSignal);
    }
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
