#include "platform/posix/SeqPacketSocket.h"

#include "platform/WinError.h"
#include "platform/posix/RuntimeDir.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::posix {

namespace {

// Room for the largest request (the 66304-byte mixer record plus header)
// with plenty to spare.
constexpr int kSocketBufferBytes = 256 * 1024;

// A peer that never accepts leaves connect() waiting while its backlog is
// full; the GUI waits no longer for an open than for a call.
constexpr timeval kConnectLimit { 2, 0 };

bool fillAddress(const std::string& socketPath, sockaddr_un& address, std::uint32_t& error)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        error = winerror::kFilenameTooLong;
        return false;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    return true;
}

int newSocket(std::uint32_t& error)
{
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = windowsErrorFromErrno(errno);
        return kInvalidSocket;
    }
    int size = kSocketBufferBytes;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return fd;
}

// Waits for events on fd; false with error 121 when the time ran out.
bool waitFor(int fd, short events, int timeoutMs, std::uint32_t& error)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd entry { fd, events, 0 };
        const int ready = ::poll(&entry, 1, wait);
        if (ready > 0)
            return true;
        if (ready == 0) {
            error = winerror::kSemTimeout;
            return false;
        }
        if (errno != EINTR) {
            error = windowsErrorFromErrno(errno);
            return false;
        }
    }
}

} // namespace

int listenSeqPacket(const std::string& socketPath, std::uint32_t& error)
{
    sockaddr_un address;
    if (!fillAddress(socketPath, address, error))
        return kInvalidSocket;
    const int fd = newSocket(error);
    if (fd == kInvalidSocket)
        return kInvalidSocket;
    // A socket file left by a server that died refuses connections; replace it.
    struct stat info {};
    if (::lstat(socketPath.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        ::unlink(socketPath.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || ::chmod(socketPath.c_str(), 0600) != 0 || ::listen(fd, 64) != 0) {
        error = windowsErrorFromErrno(errno);
        ::close(fd);
        return kInvalidSocket;
    }
    error = winerror::kSuccess;
    return fd;
}

int connectSeqPacket(const std::string& socketPath, std::uint32_t& error)
{
    sockaddr_un address;
    if (!fillAddress(socketPath, address, error))
        return kInvalidSocket;
    const int fd = newSocket(error);
    if (fd == kInvalidSocket)
        return kInvalidSocket;
    // Unix-domain connects wait for room in the backlog at most the send time-out.
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kConnectLimit, sizeof kConnectLimit);
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        error = (errno == EAGAIN || errno == EINPROGRESS) ? winerror::kSemTimeout : windowsErrorFromErrno(errno);
        ::close(fd);
        return kInvalidSocket;
    }
    error = winerror::kSuccess;
    return fd;
}

int acceptSeqPacket(int listenFd, int timeoutMs, std::uint32_t& error)
{
    for (;;) {
        if (!waitFor(listenFd, POLLIN, timeoutMs, error))
            return kInvalidSocket;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            error = winerror::kSuccess;
            return fd;
        }
        if (errno != EINTR && errno != ECONNABORTED) {
            error = windowsErrorFromErrno(errno);
            return kInvalidSocket;
        }
    }
}

bool sendMessage(int fd, const void* data, std::size_t length, int timeoutMs, std::uint32_t& error)
{
    for (;;) {
        const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            error = winerror::kSuccess;
            return true;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            error = windowsErrorFromErrno(errno);
            return false;
        }
        if (!waitFor(fd, POLLOUT, timeoutMs, error))
            return false;
    }
}

bool receiveMessage(int fd, void* buffer, std::size_t capacity, int timeoutMs,
                    ReceivedMessage& message, std::uint32_t& error)
{
    message = ReceivedMessage {};
    for (;;) {
        if (!waitFor(fd, POLLIN, timeoutMs, error))
            return false;
        iovec part { buffer, capacity };
        msghdr header {};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        const ssize_t received = ::recvmsg(fd, &header, MSG_DONTWAIT);
        if (received > 0) {
            message.length = static_cast<std::size_t>(received);
            message.truncated = (header.msg_flags & MSG_TRUNC) != 0;
            error = winerror::kSuccess;
            return true;
        }
        if (received == 0) {
            // An empty message and an orderly close look alike; a closed
            // peer also reports POLLHUP.
            pollfd entry { fd, POLLIN, 0 };
            if (::poll(&entry, 1, 0) > 0 && (entry.revents & POLLHUP)) {
                error = winerror::kDeviceNotConnected;
                return false;
            }
            error = winerror::kSuccess;
            return true;
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
            continue;
        error = windowsErrorFromErrno(errno);
        return false;
    }
}

void shutdownSocket(int fd)
{
    if (fd != kInvalidSocket)
        ::shutdown(fd, SHUT_RDWR);
}

void closeSocket(int fd)
{
    if (fd != kInvalidSocket)
        ::close(fd);
}

} // namespace platform::posix
