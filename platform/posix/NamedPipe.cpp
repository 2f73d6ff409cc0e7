#include "platform/NamedPipe.h"

#include "platform/WinError.h"
#include "platform/posix/RuntimeDir.h"
#include "platform/posix/SeqPacketSocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The listening socket that every instance of one pipe in this process
// shares, as Windows lets a server make several instances of one name; the
// last instance to go removes it.
struct Listener {
    int socket = posix::kInvalidSocket;
    std::string socketPath;
    ino_t socketInode = 0;
    ~Listener();
};

// The pipes this process serves, by socket path.
std::mutex listenersLock;
std::map<std::string, std::weak_ptr<Listener>> listeners;

} // namespace

struct PipeObject {
    bool server = false;
    int socket = posix::kInvalidSocket; // a client's connection
    std::shared_ptr<Listener> listener; // a server's
    int client = posix::kInvalidSocket; // a server's connected client
    // Once written, the wake pipe stays readable and releases every wait.
    int wakeRead = -1;
    int wakeWrite = -1;
};

namespace {

// A write of one small message never waits long; the limit only guards
// against a peer that stopped reading.
constexpr int kWriteLimitMs = 2000;

std::string parentDirectory(const std::string& path)
{
    return path.substr(0, path.find_last_of('/'));
}

bool openWakePipe(PipeObject& pipe, std::uint32_t& error)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = posix::windowsErrorFromErrno(errno);
        return false;
    }
    pipe.wakeRead = ends[0];
    pipe.wakeWrite = ends[1];
    return true;
}

// Waits until fd is readable; false with error 995 once the waits were
// released, with 121 when timeoutMs (negative: no limit) ran out.
bool waitReadable(const PipeObject& pipe, int fd, int timeoutMs, std::uint32_t& error)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0)
            wait = static_cast<int>(std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
        pollfd entries[2] = { { pipe.wakeRead, POLLIN, 0 }, { fd, POLLIN, 0 } };
        const int ready = ::poll(entries, 2, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            error = posix::windowsErrorFromErrno(errno);
            return false;
        }
        if (ready == 0) {
            error = winerror::kSemTimeout;
            return false;
        }
        if (entries[0].revents != 0) {
            error = winerror::kOperationAborted;
            return false;
        }
        if (entries[1].revents != 0)
            return true;
    }
}

// The socket that carries messages: a server's client, or a client's own.
bool connectedSocket(const PipeObject* pipe, int& fd, std::uint32_t& error)
{
    if (pipe == kInvalidPipeHandle) {
        error = winerror::kInvalidHandle;
        return false;
    }
    fd = pipe->server ? pipe->client : pipe->socket;
    if (fd == posix::kInvalidSocket) {
        error = winerror::kPipeNotConnected;
        return false;
    }
    return true;
}

void closeIfOpen(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Removes the socket file only while it is still the one this server bound.
Listener::~Listener()
{
    struct stat info {};
    if (::lstat(socketPath.c_str(), &info) == 0 && info.st_ino == socketInode)
        ::unlink(socketPath.c_str());
    posix::closeSocket(socket);
}

// The pipe's listener when another instance serves it already, else a new one.
// Instances accept in turn, so the socket never blocks an accept that another
// instance took the client of.
std::shared_ptr<Listener> listenerFor(const std::string& socketPath, std::uint32_t& error)
{
    const std::lock_guard<std::mutex> lock(listenersLock);
    std::shared_ptr<Listener> listener = listeners[socketPath].lock();
    if (listener)
        return listener;
    listener = std::make_shared<Listener>();
    listener->socketPath = socketPath;
    listener->socket = posix::listenSeqPacket(socketPath, error);
    if (listener->socket == posix::kInvalidSocket)
        return nullptr;
    if (::fcntl(listener->socket, F_SETFL, O_NONBLOCK) != 0) {
        error = posix::windowsErrorFromErrno(errno);
        return nullptr;
    }
    struct stat info {};
    if (::lstat(socketPath.c_str(), &info) == 0)
        listener->socketInode = info.st_ino;
    listeners[socketPath] = listener;
    return listener;
}

// As on Windows, a client that already closed its end stays this instance's
// client, with its message still to read, until the server disconnects it.
bool clientHasLeft(int fd)
{
    pollfd peer { fd, POLLIN, 0 };
    return ::poll(&peer, 1, 0) > 0 && (peer.revents & POLLHUP);
}

} // namespace

PipeHandle createNamedPipe(const std::wstring& path, std::uint32_t& error)
{
    auto* pipe = new PipeObject;
    pipe->server = true;
    std::string socketPath;
    if (!posix::socketPathFor(path, socketPath, error)
        || !posix::ensurePrivateDir(parentDirectory(socketPath), error)
        || !openWakePipe(*pipe, error)
        || !(pipe->listener = listenerFor(socketPath, error))) {
        closePipe(pipe);
        return kInvalidPipeHandle;
    }
    error = winerror::kSuccess;
    return pipe;
}

bool connectNamedPipe(PipeHandle pipe, std::uint32_t& error)
{
    if (pipe == kInvalidPipeHandle || !pipe->server) {
        error = winerror::kInvalidHandle;
        return false;
    }
    if (pipe->client == posix::kInvalidSocket) {
        do {
            if (!waitReadable(*pipe, pipe->listener->socket, -1, error))
                return false;
            pipe->client = posix::acceptSeqPacket(pipe->listener->socket, 0, error);
            // Another instance took the client first.
        } while (pipe->client == posix::kInvalidSocket && error == winerror::kSemTimeout);
        if (pipe->client == posix::kInvalidSocket)
            return false;
        if (!clientHasLeft(pipe->client))
            return true;
    }
    error = clientHasLeft(pipe->client) ? winerror::kNoData : winerror::kPipeConnected;
    return false;
}

bool readPipe(PipeHandle pipe, void* buffer, std::uint32_t capacity,
              std::uint32_t& bytesRead, std::uint32_t& error, int timeoutMs)
{
    bytesRead = 0;
    int fd = posix::kInvalidSocket;
    if (!connectedSocket(pipe, fd, error) || !waitReadable(*pipe, fd, timeoutMs, error))
        return false;
    posix::ReceivedMessage message;
    if (!posix::receiveMessage(fd, buffer, capacity, 0, message, error)) {
        // A peer that closed its end is a broken pipe, as on Windows, also
        // when it left a message unread and the socket reports a reset.
        if (error == winerror::kDeviceNotConnected)
            error = winerror::kBrokenPipe;
        return false;
    }
    bytesRead = static_cast<std::uint32_t>(message.length);
    if (message.truncated) {
        error = winerror::kMoreData;
        return false;
    }
    return true;
}

bool writePipe(PipeHandle pipe, const void* data, std::uint32_t length, std::uint32_t& error)
{
    int fd = posix::kInvalidSocket;
    if (!connectedSocket(pipe, fd, error))
        return false;
    if (posix::sendMessage(fd, data, length, kWriteLimitMs, error))
        return true;
    // Windows reports a write to a peer that closed its end as "no data".
    if (error == winerror::kDeviceNotConnected)
        error = winerror::kNoData;
    return false;
}

void disconnectNamedPipe(PipeHandle pipe)
{
    if (pipe != kInvalidPipeHandle && pipe->server)
        closeIfOpen(pipe->client);
}

void cancelPipeWaits(PipeHandle pipe)
{
    if (pipe == kInvalidPipeHandle || pipe->wakeWrite < 0)
        return;
    const char wake = 1;
    while (::write(pipe->wakeWrite, &wake, 1) < 0 && errno == EINTR) {
    }
}

PipeHandle openPipe(const std::wstring& path, std::uint32_t& error)
{
    std::string socketPath;
    if (!posix::socketPathFor(path, socketPath, error))
        return kInvalidPipeHandle;
    const int fd = posix::connectSeqPacket(socketPath, error);
    if (fd == posix::kInvalidSocket)
        return kInvalidPipeHandle;
    auto* pipe = new PipeObject;
    pipe->socket = fd;
    return pipe;
}

void closePipe(PipeHandle pipe)
{
    if (pipe == kInvalidPipeHandle)
        return;
    closeIfOpen(pipe->client);
    closeIfOpen(pipe->socket);
    closeIfOpen(pipe->wakeRead);
    closeIfOpen(pipe->wakeWrite);
    const std::lock_guard<std::mutex> lock(listenersLock);
    delete pipe;
}

} // namespace platform
