#pragma once

#include <cstdint>

// SIGTERM, SIGINT and SIGHUP (a logout, kill, Ctrl+C) would end the process
// on the spot, skipping every destructor. Instead each one writes a byte to
// a pipe whose read end the event loop watches, so the program can end as
// its quit command does. A signal ignored at start stays ignored. A second
// signal, or the process still running 5 s after the first (its GUI thread
// stuck), ends it at once with the signal's own action.
namespace platform::posix {

// Installs the handlers once per process and returns the pipe's read end
// (non-blocking, close-on-exec); -1 with the error when that failed.
int watchTerminationSignals(std::uint32_t& error);

// Reads the signals that arrived since the last call; false when none did.
bool takeTerminationSignals(int watchFd);

} // namespace platform::posix
