#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Unix-domain SOCK_SEQPACKET sockets: one send is one message, and message
// boundaries survive, as with the driver's request/reply calls and
// message-mode named pipes. Descriptors are plain ints owned by the caller.
namespace platform::posix {

constexpr int kInvalidSocket = -1;

// Binds and listens at socketPath (mode 0600), replacing a stale socket file.
int listenSeqPacket(const std::string& socketPath, std::uint32_t& error);

// Connects to socketPath; nobody listening gives error 2, a listener that
// does not take the connection within 2 seconds error 121.
int connectSeqPacket(const std::string& socketPath, std::uint32_t& error);

// Waits up to timeoutMs (negative: forever) for a client on listenFd.
int acceptSeqPacket(int listenFd, int timeoutMs, std::uint32_t& error);

// Sends one message, waiting at most timeoutMs for room in the socket.
bool sendMessage(int fd, const void* data, std::size_t length, int timeoutMs, std::uint32_t& error);

struct ReceivedMessage {
    std::size_t length = 0; // bytes stored in the buffer
    bool truncated = false; // the message was longer than the buffer
};

// Waits up to timeoutMs (negative: forever) for one message. A closed
// connection fails with error 1167.
bool receiveMessage(int fd, void* buffer, std::size_t capacity, int timeoutMs,
                    ReceivedMessage& message, std::uint32_t& error);

// Ends both directions at once, so that every later call on fd fails and a
// thread blocked on it wakes up.
void shutdownSocket(int fd);

void closeSocket(int fd);

} // namespace platform::posix
