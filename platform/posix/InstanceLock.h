#pragma once

#include <cstdint>
#include <string>

// The one-copy-per-user guard of the POSIX build: an exclusive lock on a
// file in the user's private runtime directory. Nobody else can create,
// hold or remove it, and the kernel drops it when its holder ends, however
// it ends, so a killed copy never blocks the next start.
namespace platform::posix {

constexpr int kNoInstanceLock = -1;

// Takes the lock "<base>/<name>.lock". Returns its descriptor, held until
// releaseInstanceLock. kNoInstanceLock with error 183 (already exists) when
// another process of this user holds it, or with the reason it could not be
// taken (5 when the runtime directory is not private); then cause names the
// directory and the system's reason, for the log.
int takeInstanceLock(const std::string& name, std::uint32_t& error, std::string& cause);

void releaseInstanceLock(int lock);

} // namespace platform::posix
