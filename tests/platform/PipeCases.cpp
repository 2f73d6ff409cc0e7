#include "tests/platform/PipeCases.h"

#include "platform/NamedPipe.h"
#include "platform/WinError.h"

#include <chrono>
#include <functional>
#include <thread>

using namespace platform;

namespace pipecases {

namespace {

// Ends the case at the first check that fails; every case keeps the last
// Windows error number in `error`.
#define ENSURE(condition)                                                                          \
    do {                                                                                           \
        if (!(condition))                                                                          \
            return std::string(#condition) + " failed (line " + std::to_string(__LINE__)           \
                + ", error " + std::to_string(error) + ")";                                        \
    } while (false)

// A pipe handle that is closed however the case ends.
class Pipe
{
public:
    explicit Pipe(PipeHandle handle) : m_handle(handle) {}
    ~Pipe() { closePipe(m_handle); }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    operator PipeHandle() const { return m_handle; }
    bool valid() const { return m_handle != kInvalidPipeHandle; }
    void close()
    {
        closePipe(m_handle);
        m_handle = kInvalidPipeHandle;
    }

private:
    PipeHandle m_handle;
};

// Work on a server in a thread of its own. A case that ends early releases
// the server's waits, so the thread can always be joined.
class Background
{
public:
    Background(PipeHandle server, std::function<void()> work) : m_server(server), m_thread(std::move(work)) {}
    ~Background()
    {
        if (m_thread.joinable()) {
            cancelPipeWaits(m_server);
            m_thread.join();
        }
    }
    void join() { m_thread.join(); }

private:
    PipeHandle m_server;
    std::thread m_thread;
};

bool send(PipeHandle pipe, const std::string& message, std::uint32_t& error)
{
    return writePipe(pipe, message.data(), static_cast<std::uint32_t>(message.size()), error);
}

// One message read as the listener reads it, into 1024 bytes.
bool receive(PipeHandle pipe, std::string& message, std::uint32_t& error, int timeoutMs = -1)
{
    char buffer[1024];
    std::uint32_t length = 0;
    const bool ok = readPipe(pipe, buffer, sizeof buffer, length, error, timeoutMs);
    message.assign(buffer, ok ? length : 0);
    return ok;
}

// A client that came before the server's wait: Windows says 535 (already
// connected), which its callers count as connected; the stand-in takes it.
bool serverTakesClient(PipeHandle server, std::uint32_t& error)
{
    return connectNamedPipe(server, error) || error == winerror::kPipeConnected;
}

// A Windows pipe instance that was disconnected refuses clients until its
// server waits again, which happens on another thread: try until it takes one.
PipeHandle openOnceServed(const std::wstring& path, std::uint32_t& error)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    PipeHandle client = openPipe(path, error);
    while (client == kInvalidPipeHandle && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        client = openPipe(path, error);
    }
    return client;
}

// The listener's request: five 32-bit words, the last asking for the settings window.
const std::string kRequest("\x80\xbb\0\0\0\1\0\0\x10\0\0\0\x07\0\0\0\x01\0\0\0", 20);

std::string messagesKeepTheirBoundariesBothWays(const std::wstring& path)
{
    std::uint32_t error = 0;
    Pipe server(createNamedPipe(path, error));
    ENSURE(server.valid());
    Pipe client(openPipe(path, error));
    ENSURE(client.valid());
    ENSURE(send(client, "first", error) && send(client, "", error) && send(client, kRequest, error));
    ENSURE(serverTakesClient(server, error));
    std::string message;
    ENSURE(receive(server, message, error) && message == "first");
    ENSURE(receive(server, message, error) && message.empty());
    ENSURE(receive(server, message, error) && message == kRequest);

    ENSURE(send(server, "1", error));
    ENSURE(receive(client, message, error) && message == "1");

    // A server that went away fails the client's calls.
    server.close();
    ENSURE(!send(client, "late", error) && error == winerror::kNoData);
    ENSURE(!receive(client, message, error) && error == winerror::kBrokenPipe);
    return {};
}

std::string aClientThatCameAndWentLeavesItsMessage(const std::wstring& path)
{
    std::uint32_t error = 0;
    Pipe server(createNamedPipe(path, error));
    ENSURE(server.valid());
    {
        Pipe client(openPipe(path, error));
        ENSURE(client.valid() && send(client, kRequest, error));
    }
    // "No data" again and again until the server disconnects; the message is still there.
    ENSURE(!connectNamedPipe(server, error) && error == winerror::kNoData);
    ENSURE(!connectNamedPipe(server, error) && error == winerror::kNoData);
    std::string message;
    ENSURE(receive(server, message, error) && message == kRequest);

    // Disconnected, the instance waits for the next client and serves it.
    disconnectNamedPipe(server);
    bool connected = false;
    std::uint32_t waitError = 0;
    Background waiter(server, [&] { connected = connectNamedPipe(server, waitError); });
    Pipe next(openOnceServed(path, error));
    ENSURE(next.valid());
    waiter.join();
    error = waitError;
    ENSURE(connected);
    ENSURE(send(next, "next", error) && receive(server, message, error) && message == "next");
    return {};
}

std::string aMessageLongerThanTheReadIsMoreData(const std::wstring& path)
{
    std::uint32_t error = 0;
    Pipe server(createNamedPipe(path, error));
    Pipe client(openPipe(path, error));
    ENSURE(server.valid() && client.valid());
    const std::string exact(1024, 'y');
    ENSURE(send(client, exact, error) && send(client, std::string(1025, 'x'), error));
    ENSURE(serverTakesClient(server, error));
    std::string message;
    ENSURE(receive(server, message, error) && message == exact);
    ENSURE(!receive(server, message, error) && error == winerror::kMoreData);
    return {};
}

std::string nobodyServingIsFileNotFound(const std::wstring& path)
{
    std::uint32_t error = 0;
    ENSURE(openPipe(path, error) == kInvalidPipeHandle && error == winerror::kFileNotFound);
    {
        Pipe server(createNamedPipe(path, error));
        ENSURE(server.valid());
    }
    // A closed server takes the pipe with it.
    ENSURE(openPipe(path, error) == kInvalidPipeHandle && error == winerror::kFileNotFound);

    char byte = 0;
    std::uint32_t length = 0;
    ENSURE(!connectNamedPipe(kInvalidPipeHandle, error) && error == winerror::kInvalidHandle);
    ENSURE(!readPipe(kInvalidPipeHandle, &byte, 1, length, error) && error == winerror::kInvalidHandle);
    ENSURE(!writePipe(kInvalidPipeHandle, &byte, 1, error) && error == winerror::kInvalidHandle);
    return {};
}

std::string aSecondServerServesOnAfterTheFirstCloses(const std::wstring& path)
{
    std::uint32_t error = 0;
    Pipe first(createNamedPipe(path, error));
    Pipe second(createNamedPipe(path, error));
    ENSURE(first.valid() && second.valid());
    first.close();
    Pipe client(openPipe(path, error));
    ENSURE(client.valid());
    ENSURE(serverTakesClient(second, error));
    std::string message;
    ENSURE(send(client, kRequest, error) && receive(second, message, error) && message == kRequest);
    return {};
}

std::string aClientThatLeavesWithoutWritingIsABrokenPipe(const std::wstring& path)
{
    std::uint32_t error = 0;
    Pipe server(createNamedPipe(path, error));
    Pipe client(openPipe(path, error));
    ENSURE(server.valid() && client.valid());
    ENSURE(serverTakesClient(server, error));
    // Asked again while the client is connected, the wait says so.
    ENSURE(!connectNamedPipe(server, error) && error == winerror::kPipeConnected);

    client.close();
    std::string message;
    ENSURE(!receive(server, message, error) && error == winerror::kBrokenPipe);
    ENSURE(!send(server, "reply", error) && error == winerror::kNoData);
    disconnectNamedPipe(server);
    ENSURE(!receive(server, message, error) && error == winerror::kPipeNotConnected);
    return {};
}

std::string releasedWaitsEndAtOnceFromThenOn(const std::wstring& path)
{
    std::uint32_t error = 0;
    std::uint32_t waitError = 0;
    Pipe server(createNamedPipe(path, error));
    ENSURE(server.valid());
    bool connected = true;
    std::thread waiter([&] { connected = connectNamedPipe(server, waitError); });
    cancelPipeWaits(server);
    waiter.join();
    error = waitError;
    ENSURE(!connected && error == winerror::kOperationAborted);
    // Released for good: not even a client that is there gets through.
    Pipe late(openPipe(path, error));
    ENSURE(!connectNamedPipe(server, error) && error == winerror::kOperationAborted);

    // A client that never writes holds no reader: one with a limit gives up,
    // one without is released.
    const std::wstring silentPath = path + L"-silent";
    Pipe second(createNamedPipe(silentPath, error));
    Pipe silent(openPipe(silentPath, error));
    ENSURE(second.valid() && silent.valid() && serverTakesClient(second, error));
    std::string message;
    ENSURE(!receive(second, message, error, 100) && error == winerror::kSemTimeout);
    std::thread reader([&] { receive(second, message, waitError); });
    cancelPipeWaits(second);
    reader.join();
    error = waitError;
    ENSURE(error == winerror::kOperationAborted);
    return {};
}

#undef ENSURE

} // namespace

const std::vector<Case>& all()
{
    static const std::vector<Case> cases = {
        { "messagesKeepTheirBoundariesBothWays", messagesKeepTheirBoundariesBothWays },
        { "aClientThatCameAndWentLeavesItsMessage", aClientThatCameAndWentLeavesItsMessage },
        { "aMessageLongerThanTheReadIsMoreData", aMessageLongerThanTheReadIsMoreData },
        { "nobodyServingIsFileNotFound", nobodyServingIsFileNotFound },
        { "aSecondServerServesOnAfterTheFirstCloses", aSecondServerServesOnAfterTheFirstCloses },
        { "aClientThatLeavesWithoutWritingIsABrokenPipe", aClientThatLeavesWithoutWritingIsABrokenPipe },
        { "releasedWaitsEndAtOnceFromThenOn", releasedWaitsEndAtOnceFromThenOn },
    };
    return cases;
}

} // namespace pipecases
