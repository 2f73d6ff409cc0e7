// The relay between the Wine bridge and the POSIX stand-in. It listens on a
// loopback TCP port (printed on its first line; Wine 8's Winsock has no Unix
// sockets) and serves each connection in a thread of its own. Every message
// either way is a frame: a 32-bit little-endian length, then the bytes.
//
// The first frame names what the connection is for, and is answered with
// one frame holding the Windows error number of opening it (0: opened):
//   "device <path>"  a device handle: each later frame is a request in the
//                    stand-in's wire format (12-byte header, input), made
//                    with its deviceIoControl and answered with its reply
//                    (status, error, bytesReturned, output);
//   "pipe <path>"    a pipe client: each later frame is written as one
//                    message and answered with the error of the write;
//   "serve <path>"   a pipe server: each message a client writes is sent
//                    on as a frame, until the connection closes;
//   "buses"          each later (empty) frame is answered with a 32-bit
//                    mask of the buses whose device socket exists, so
//                    that the bridge names only those on the Windows side;
//   "control"        the next frame is one command line for the sim's
//                    control socket, answered with everything it replies.
// So the Windows side gets exactly the results and errors the stand-in gives.

#include "platform/DeviceIo.h"
#include "platform/NamedPipe.h"
#include "platform/WinError.h"
#include "platform/posix/RuntimeDir.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// The largest frame: a mixer record with its header, with room to spare.
constexpr std::uint32_t kMaxFrame = 1 << 20;
// How long the sim may take over one control command.
constexpr int kControlLimitMs = 5000;

bool readAll(int fd, void* data, std::size_t length)
{
    auto* at = static_cast<unsigned char*>(data);
    while (length > 0) {
        const ssize_t got = ::recv(fd, at, length, 0);
        if (got <= 0)
            return false;
        at += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

bool writeAll(int fd, const void* data, std::size_t length)
{
    const auto* at = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ssize_t sent = ::send(fd, at, length, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        at += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

std::uint32_t wordAt(const unsigned char* at)
{
    return at[0] | at[1] << 8 | at[2] << 16 | std::uint32_t(at[3]) << 24;
}

void appendWord(Bytes& bytes, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(static_cast<unsigned char>(value >> shift));
}

bool receiveFrame(int fd, Bytes& frame)
{
    unsigned char length[4];
    if (!readAll(fd, length, 4) || wordAt(length) > kMaxFrame)
        return false;
    frame.resize(wordAt(length));
    return readAll(fd, frame.data(), frame.size());
}

bool sendFrame(int fd, const Bytes& frame)
{
    Bytes length;
    appendWord(length, static_cast<std::uint32_t>(frame.size()));
    return writeAll(fd, length.data(), 4) && writeAll(fd, frame.data(), frame.size());
}

bool sendError(int fd, std::uint32_t error)
{
    Bytes frame;
    appendWord(frame, error);
    return sendFrame(fd, frame);
}

std::wstring widened(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

void serveDevice(int fd, const std::string& path)
{
    std::uint32_t error = 0;
    const platform::DeviceHandle device = platform::openDevice(widened(path), error);
    if (!sendError(fd, error) || device == platform::kInvalidDeviceHandle)
        return;
    Bytes request;
    while (receiveFrame(fd, request) && request.size() >= 12 && wordAt(&request[4]) == request.size() - 12) {
        const std::uint32_t capacity = wordAt(&request[8]);
        if (capacity > kMaxFrame)
            break;
        Bytes output(capacity);
        const platform::IoControlResult result = platform::deviceIoControl(
            device, wordAt(&request[0]), request.data() + 12, wordAt(&request[4]), output.data(), capacity);
        Bytes reply;
        appendWord(reply, result.ok ? 1 : 0);
        appendWord(reply, result.error);
        appendWord(reply, result.bytesReturned);
        reply.insert(reply.end(), output.begin(), output.begin() + result.bytesReturned);
        if (!sendFrame(fd, reply))
            break;
    }
    platform::closeDevice(device);
}

void servePipeClient(int fd, const std::string& path)
{
    std::uint32_t error = 0;
    const platform::PipeHandle pipe = platform::openPipe(widened(path), error);
    if (!sendError(fd, error) || pipe == platform::kInvalidPipeHandle)
        return;
    Bytes message;
    while (receiveFrame(fd, message)) {
        platform::writePipe(pipe, message.data(), static_cast<std::uint32_t>(message.size()), error);
        if (!sendError(fd, error))
            break;
    }
    platform::closePipe(pipe);
}

// Hands each client's message on until the Windows side hangs up.
void servePipeServer(int fd, const std::string& path)
{
    std::uint32_t error = 0;
    const platform::PipeHandle pipe = platform::createNamedPipe(widened(path), error);
    if (!sendError(fd, error) || pipe == platform::kInvalidPipeHandle)
        return;
    std::thread hangUp([fd, pipe] {
        char byte;
        while (::recv(fd, &byte, 1, 0) > 0) {
        }
        platform::cancelPipeWaits(pipe);
    });
    Bytes message(platform::kPipeBufferBytes);
    for (;;) {
        // 232: the client already wrote and left; its message is still there.
        if (!platform::connectNamedPipe(pipe, error) && error != platform::winerror::kNoData)
            break;
        std::uint32_t length = 0;
        if (platform::readPipe(pipe, message.data(), platform::kPipeBufferBytes, length, error))
            sendFrame(fd, Bytes(message.begin(), message.begin() + length));
        else if (error == platform::winerror::kOperationAborted)
            break;
        platform::disconnectNamedPipe(pipe);
    }
    ::shutdown(fd, SHUT_RDWR);
    hangUp.join();
    platform::closePipe(pipe);
}

void serveBusMask(int fd)
{
    Bytes ask;
    if (!sendError(fd, 0))
        return;
    while (receiveFrame(fd, ask)) {
        std::uint32_t served = 0;
        for (int bus = 0; bus < 16; ++bus) {
            std::string path;
            std::uint32_t error = 0;
            struct stat status {};
            if (platform::posix::socketPathFor(widened("\\\\.\\KestrumAudioBus" + std::to_string(bus)), path, error)
                && ::stat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode))
                served |= 1u << bus;
        }
        Bytes mask;
        appendWord(mask, served);
        if (!sendFrame(fd, mask))
            break;
    }
}

// The sim's control socket speaks lines over a stream and hangs up after its answer.
void serveControl(int fd)
{
    Bytes command;
    std::string base;
    std::uint32_t error = 0;
    platform::posix::runtimeBaseDir(base, error);
    if (!sendError(fd, error) || error != 0 || !receiveFrame(fd, command))
        return;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/kestrum-sim.ctl", base.c_str());
    const int sim = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Bytes answer;
    if (::connect(sim, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && writeAll(sim, command.data(), command.size())) {
        pollfd entry { sim, POLLIN, 0 };
        unsigned char chunk[4096];
        ssize_t got = 0;
        while (::poll(&entry, 1, kControlLimitMs) == 1 && (got = ::recv(sim, chunk, sizeof chunk, 0)) > 0)
            answer.insert(answer.end(), chunk, chunk + got);
    }
    ::close(sim);
    sendFrame(fd, answer);
}

void serveConnection(int fd)
{
    Bytes first;
    if (receiveFrame(fd, first)) {
        const std::string request(first.begin(), first.end());
        const std::string path = request.substr(request.find(' ') + 1);
        if (request.rfind("device ", 0) == 0)
            serveDevice(fd, path);
        else if (request.rfind("pipe ", 0) == 0)
            servePipeClient(fd, path);
        else if (request.rfind("serve ", 0) == 0)
            servePipeServer(fd, path);
        else if (request == "buses")
            serveBusMask(fd);
        else if (request == "control")
            serveControl(fd);
    }
    ::close(fd);
}

} // namespace

int main()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener, 16) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        std::perror("kestrum-wine-relay");
        return 1;
    }
    std::printf("%u\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::thread(serveConnection, fd).detach();
    }
}
