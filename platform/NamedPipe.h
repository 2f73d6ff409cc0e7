#pragma once

#include <cstdint>
#include <string>

// Message-mode named pipes, as the ASIO driver and the panel use them: the
// server side waits for one client at a time and exchanges whole messages;
// the client side opens, writes and closes. On Windows these are the
// kernel32 pipe calls; elsewhere a stand-in over Unix-domain sockets. Every
// call reports a Windows error number.
//
// A server's blocking waits (for a client, or for its message) can be
// released from another thread with cancelPipeWaits, so a listener thread
// can always be stopped.
namespace platform {

struct PipeObject;
using PipeHandle = PipeObject*;
constexpr PipeHandle kInvalidPipeHandle = nullptr;

// The largest message either side accepts, matching the pipe buffers.
constexpr std::uint32_t kPipeBufferBytes = 65536;

// CreateNamedPipeW(path, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE |
// PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 65536, 65536,
// 300, nullptr), opened for overlapped waits so that they can be released.
PipeHandle createNamedPipe(const std::wstring& path, std::uint32_t& error);

// ConnectNamedPipe: waits until a client connects. A client that is already
// connected gives false with error 535, as on Windows; a released wait gives
// false with error 995. A client that already wrote and closed gives false
// with error 232 (no data), again and again until disconnectNamedPipe,
// though its message is still there to read.
bool connectNamedPipe(PipeHandle pipe, std::uint32_t& error);

// ReadFile of one message of at most capacity bytes. A longer message fails
// with error 234 (more data); a client that went away fails with 109. On a
// server handle, a message that does not come within timeoutMs (negative:
// no limit) fails with 121 and the pending read is cancelled.
bool readPipe(PipeHandle pipe, void* buffer, std::uint32_t capacity,
              std::uint32_t& bytesRead, std::uint32_t& error, int timeoutMs = -1);

// WriteFile of one whole message, on a server's client or on a client handle.
// A peer that closed its end fails it with error 232 (no data).
bool writePipe(PipeHandle pipe, const void* data, std::uint32_t length, std::uint32_t& error);

// DisconnectNamedPipe: drops the server's current client, if any.
void disconnectNamedPipe(PipeHandle pipe);

// Releases every wait on a server handle, now and from then on. Safe to call
// from any thread while another one waits on the handle.
void cancelPipeWaits(PipeHandle pipe);

// CreateFileW on a pipe path as a client (GENERIC_READ | GENERIC_WRITE, no
// sharing, OPEN_EXISTING). On Windows it asks for identification-level
// impersonation only, so the serving process cannot act as the user. Nobody
// serving the pipe gives error 2.
PipeHandle openPipe(const std::wstring& path, std::uint32_t& error);

// CloseHandle for either kind. Closing kInvalidPipeHandle does nothing.
void closePipe(PipeHandle pipe);

} // namespace platform
