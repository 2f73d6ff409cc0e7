#pragma once

#include <cstdint>
#include <string>

// Where the stand-in's sockets live: $XDG_RUNTIME_DIR/kestrum, or
// $HOME/.cache/kestrum without XDG_RUNTIME_DIR. The directory is private to
// the user; one that another user owns, or that others can write, is refused.
namespace platform::posix {

// The base directory, created with mode 0700 when missing. False with
// error 5 (access denied) when it is not a private directory of this user;
// dir names it then too, and errno tells the system's reason.
bool runtimeBaseDir(std::string& dir, std::uint32_t& error);

// Maps a Windows object path to its socket path below the base directory:
// "\\.\KestrumAudioBus3" -> "<base>/KestrumAudioBus3",
// "\\.\pipe\Name" -> "<base>/pipe/Name". Paths that do not start with
// "\\.\", or that would leave the base directory, are refused (error 123).
bool socketPathFor(const std::wstring& windowsPath, std::string& socketPath, std::uint32_t& error);

// Creates (mode 0700) or checks a private directory of this user. On
// failure errno tells the system's reason (EACCES for a refused directory).
bool ensurePrivateDir(const std::string& dir, std::uint32_t& error);

// The nearest Windows error number for a POSIX errno value.
std::uint32_t windowsErrorFromErrno(int err);

} // namespace platform::posix
