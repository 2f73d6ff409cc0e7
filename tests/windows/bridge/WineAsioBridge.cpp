// Plays the ASIO driver's ends of its two pipes under Wine by handing them
// to the Linux relay, so that whatever serves the POSIX stand-in's pipes
// serves the Windows program's real named pipes:
//  - it serves \\.\pipe\KestrumPannelToASIO and writes each message it
//    receives to the stand-in's pipe of that name, as the panel would;
//  - it serves the stand-in's \\.\pipe\KestrumASIOToPannel through the relay
//    and writes each request the far side sends there, as one message, to
//    the Windows pipe of that name, which the program serves.
// Usage: kestrum_wine_asio <relay port>. It prints "ready" once both ends
// are served, and runs until it is ended or loses the relay.

#include "RelayLink.h"
#include "platform/NamedPipe.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr wchar_t kNoticePipe[] = L"\\\\.\\pipe\\KestrumPannelToASIO";
constexpr wchar_t kRequestPipe[] = L"\\\\.\\pipe\\KestrumASIOToPannel";
// Each notice goes on its own connection, as the panel sends it.
constexpr unsigned long kNoticeLimitMs = 2000;
constexpr DWORD kBusyLimitMs = 2000;

void passNotice(unsigned short port, const std::vector<unsigned char>& message, std::uint32_t length)
{
    unsigned long error = 0;
    const RelayLink link = relayOpen(port, "pipe \\\\.\\pipe\\KestrumPannelToASIO", kNoticeLimitMs, &error);
    if (link == RELAY_NO_LINK)
        return;
    unsigned char answer[4];
    unsigned long rest = 0;
    if (relaySend(link, message.data(), length, nullptr, 0, kNoticeLimitMs) == 0)
        relayReceive(link, answer, 4, nullptr, 0, &rest, kNoticeLimitMs);
    relayClose(link);
}

void serveNotices(platform::PipeHandle pipe, unsigned short port)
{
    std::vector<unsigned char> message(platform::kPipeBufferBytes);
    for (;;) {
        std::uint32_t error = 0;
        std::uint32_t length = 0;
        // 232: the client already wrote and left; its message is still there.
        if (platform::connectNamedPipe(pipe, error) || error == 232 || error == 535) {
            if (platform::readPipe(pipe, message.data(), platform::kPipeBufferBytes, length, error))
                passNotice(port, message, length);
        }
        platform::disconnectNamedPipe(pipe);
    }
}

// A request nobody takes is lost, as it is when the panel does not run. A
// pipe that is busy (231) is between two clients: wait for it a little.
void deliverRequest(const std::vector<unsigned char>& message, unsigned long length)
{
    std::uint32_t error = 0;
    platform::PipeHandle pipe = platform::openPipe(kRequestPipe, error);
    if (pipe == platform::kInvalidPipeHandle && error == ERROR_PIPE_BUSY && WaitNamedPipeW(kRequestPipe, kBusyLimitMs))
        pipe = platform::openPipe(kRequestPipe, error);
    if (pipe != platform::kInvalidPipeHandle) {
        platform::writePipe(pipe, message.data(), length, error);
        platform::closePipe(pipe);
    }
    if (error != 0)
        std::fprintf(stderr, "kestrum_wine_asio: a request of %lu bytes not delivered: error %u\n", length, error);
}

} // namespace

int main(int argc, char* argv[])
{
    const unsigned short port = argc == 2 ? static_cast<unsigned short>(std::atoi(argv[1])) : 0;
    std::uint32_t error = 0;
    unsigned long relayError = 0;
    if (port == 0 || !relayStartup()) {
        std::fprintf(stderr, "usage: kestrum_wine_asio <relay port>\n");
        return 2;
    }
    const platform::PipeHandle notices = platform::createNamedPipe(kNoticePipe, error);
    const RelayLink requests = relayOpen(port, "serve \\\\.\\pipe\\KestrumASIOToPannel", 0, &relayError);
    if (notices == platform::kInvalidPipeHandle || requests == RELAY_NO_LINK) {
        std::fprintf(stderr, "kestrum_wine_asio: cannot serve the pipes (errors %u, %lu)\n", error, relayError);
        return 1;
    }
    std::thread(serveNotices, notices, port).detach();
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<unsigned char> message(platform::kPipeBufferBytes);
    unsigned long length = 0;
    while (relayReceive(requests, nullptr, 0, message.data(), platform::kPipeBufferBytes, &length, 0) == 0)
        deliverRequest(message, length);
    return 1;
}
