#include "tests/platform/PipeCases.h"

#include "platform/NamedPipe.h"
#include "platform/WinError.h"

#include <chrono>
#include <memory>
#include <thread>

using namespace platform;
using namespace platform::winerror;

namespace pipecases {

namespace {

// Ends the case at the first check that fails; every case keeps the last
// Windows error number in `error`.
#define ENSURE(condition) \
    do { \
        if (!(condition)) \
            return std::string(#condition) + " (line " + std::to_string(__LINE__) + ", error " \
                + std::to_string(error) + ")"; \
    } while (false)

// Pipe handles are closed however a case ends.
using Pipe = std::unique_ptr<PipeObject, void (*)(PipeHandle)>;

Pipe serve(const std::wstring& path, std::uint32_t& error)
{
    return Pipe(createNamedPipe(path, error), closePipe);
}

// A Windows pipe instance that was disconnected refuses clients until its
// server waits again on another thread: a client tries for a while.
Pipe openClient(const std::wstring& path, std::uint32_t& error)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    PipeHandle client = openPipe(path, error);
    while (client == kInvalidPipeHandle && error != kFileNotFound && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        client = openPipe(path, error);
    }
    return Pipe(client, closePipe);
}

bool send(const Pipe& pipe, const std::string& message, std::uint32_t& error)
{
    return writePipe(pipe.get(), message.data(), static_cast<std::uint32_t>(message.size()), error);
}

// One message read as the listener reads it, into 1024 bytes.
bool receive(const Pipe& pipe, std::string& message, std::uint32_t& error, int timeoutMs = -1)
{
    char buffer[1024];
    std::uint32_t length = 0;
    const bool ok = readPipe(pipe.get(), buffer, sizeof buffer, length, error, timeoutMs);
    message.assign(buffer, ok ? length : 0);
    return ok;
}

// A client that came before the server's wait: Windows says 535 (already
// connected), which its callers count as connected; the stand-in takes it.
bool takeClient(const Pipe& server, std::uint32_t& error)
{
    return connectNamedPipe(server.get(), error) || error == kPipeConnected;
}

// The listener's request: five 32-bit words, the last asking for the settings window.
const std::string kRequest("\x80\xbb\0\0\0\1\0\0\x10\0\0\0\x07\0\0\0\x01\0\0\0", 20);

std::string boundaries(const std::wstring& path)
{
    std::uint32_t error = 0;
    std::string message;
    const std::string longest(1024, 'y');
    Pipe server = serve(path, error);
    Pipe client = openClient(path, error);
    ENSURE(server && client && send(client, "first", error) && send(client, "", error) && send(client, longest, error));
    ENSURE(takeClient(server, error));
    ENSURE(!connectNamedPipe(server.get(), error) && error == kPipeConnected);
    ENSURE(receive(server, message, error) && message == "first");
    ENSURE(receive(server, message, error) && message.empty());
    ENSURE(receive(server, message, error) && message == longest);
    ENSURE(send(server, "1", error) && receive(client, message, error) && message == "1");

    // A client that leaves, even one that left a reply unread.
    ENSURE(send(server, "unread", error));
    client.reset();
    ENSURE(!receive(server, message, error) && error == kBrokenPipe);
    ENSURE(!send(server, "reply", error) && error == kNoData);
    disconnectNamedPipe(server.get());
    ENSURE(!receive(server, message, error) && error == kPipeNotConnected);

    // The other way round: a server that went away fails its client's calls.
    bool connected = false;
    std::uint32_t waitError = 0;
    std::thread waiter([&] { connected = connectNamedPipe(server.get(), waitError); });
    client = openClient(path, error);
    if (!client)
        cancelPipeWaits(server.get());
    waiter.join();
    ENSURE(client && connected);
    server.reset();
    ENSURE(!send(client, "late", error) && error == kNoData);
    ENSURE(!receive(client, message, error) && error == kBrokenPipe);
    return {};
}

std::string cameAndWent(const std::wstring& path)
{
    std::uint32_t error = 0;
    std::string message;
    ENSURE(!openClient(path, error) && error == kFileNotFound);
    Pipe first = serve(path, error);
    Pipe server = serve(path, error);
    ENSURE(first && server);
    // A closed server takes the pipe along only when it was the last of its name.
    first.reset();
    {
        Pipe client = openClient(path, error);
        ENSURE(client && send(client, kRequest, error) && send(client, std::string(1025, 'x'), error));
    }
    // "No data" until the server disconnects, and the messages are still there.
    ENSURE(!connectNamedPipe(server.get(), error) && error == kNoData);
    ENSURE(!connectNamedPipe(server.get(), error) && error == kNoData);
    ENSURE(receive(server, message, error) && message == kRequest);
    ENSURE(!receive(server, message, error) && error == kMoreData);
    server.reset();
    ENSURE(!openClient(path, error) && error == kFileNotFound);

    char byte = 0;
    std::uint32_t length = 0;
    ENSURE(!connectNamedPipe(kInvalidPipeHandle, error) && error == kInvalidHandle);
    ENSURE(!readPipe(kInvalidPipeHandle, &byte, 1, length, error) && error == kInvalidHandle);
    ENSURE(!writePipe(kInvalidPipeHandle, &byte, 1, error) && error == kInvalidHandle);
    return {};
}

std::string releasedWaits(const std::wstring& path)
{
    std::uint32_t error = 0;
    std::uint32_t waitError = 0;
    std::string message;
    Pipe server = serve(path, error);
    ENSURE(server);
    bool connected = true;
    std::thread waiter([&] { connected = connectNamedPipe(server.get(), waitError); });
    cancelPipeWaits(server.get());
    waiter.join();
    error = waitError;
    ENSURE(!connected && error == kOperationAborted);
    // Released for good: not even a client that is there gets through.
    Pipe late(openPipe(path, error), closePipe);
    ENSURE(!connectNamedPipe(server.get(), error) && error == kOperationAborted);

    // A client that never writes holds no reader: one with a limit gives up,
    // one without is released.
    Pipe second = serve(path + L"-silent", error);
    Pipe silent = openClient(path + L"-silent", error);
    ENSURE(second && silent && takeClient(second, error));
    ENSURE(!receive(second, message, error, 100) && error == kSemTimeout);
    std::thread reader([&] { receive(second, message, waitError); });
    cancelPipeWaits(second.get());
    reader.join();
    error = waitError;
    ENSURE(error == kOperationAborted);
    return {};
}

#undef ENSURE

} // namespace

const std::vector<Case>& all()
{
    static const std::vector<Case> cases = {
        { "boundaries", boundaries }, { "cameAndWent", cameAndWent }, { "releasedWaits", releasedWaits },
    };
    return cases;
}

} // namespace pipecases
