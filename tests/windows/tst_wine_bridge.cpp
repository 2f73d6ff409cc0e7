// The Windows program's real device and pipe calls under Wine, served by a
// kestrum-sim on Linux through the bridge: the bridge driver and the ASIO
// pipe player here, the relay there (scripts/wine-bridge.sh starts the sim
// and the relay and names the relay's port in KESTRUM_RELAY_PORT). The
// checks read the sim's own call record, so they see what reached it.

#include "DriverService.h"
#include "bridge/RelayLink.h"
#include "driver/DeviceSymlinks.h"
#include "platform/DeviceIo.h"
#include "platform/NamedPipe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace platform;
using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

namespace {

constexpr wchar_t kBus0[] = L"\\\\.\\KestrumAudioBus0";

unsigned short relayPort()
{
    const char* port = std::getenv("KESTRUM_RELAY_PORT");
    return port ? static_cast<unsigned short>(std::atoi(port)) : 0;
}

// One command to the sim's control socket; its JSON answer line.
std::string sim(const std::string& command)
{
    static const bool started = relayStartup();
    unsigned long error = 0;
    if (!started)
        return "no Winsock";
    const RelayLink link = relayOpen(relayPort(), "control", 10000, &error);
    if (link == RELAY_NO_LINK)
        return "no relay: error " + std::to_string(error);
    std::string line = "[\"";
    for (const char c : command)
        line += c == ' ' ? std::string("\",\"") : std::string(1, c);
    line += "\"]\n";
    std::string answer(1 << 20, '\0');
    unsigned long length = 0;
    if (relaySend(link, line.data(), static_cast<unsigned long>(line.size()), nullptr, 0, 10000) != 0
        || relayReceive(link, nullptr, 0, answer.data(), static_cast<unsigned long>(answer.size()), &length, 10000) != 0)
        length = 0;
    relayClose(link);
    answer.resize(length);
    return answer;
}

bool simDoes(const std::string& command)
{
    return sim(command).find("\"ok\":true") != std::string::npos;
}

// The value of key in one entry of the report, quotes dropped: the report
// comes as a JSON text inside the answer's JSON, so its quotes are escaped.
std::string field(const std::string& entry, const std::string& key)
{
    const std::string tag = "\\\"" + key + "\\\":";
    std::size_t at = entry.find(tag);
    if (at == std::string::npos)
        return "?";
    at += tag.size();
    std::string value = entry.substr(at, entry.find_first_of(",}", at) - at);
    return value.rfind("\\\"", 0) == 0 ? value.substr(2, value.size() - 4) : value;
}

// The sim's record of calls, one text per call: "code in outCapacity -> status error out".
std::vector<std::string> recordedCalls()
{
    const std::string report = sim("report");
    std::vector<std::string> calls;
    std::size_t at = report.find("\\\"calls\\\":[");
    const std::size_t end = report.find("],\\\"state\\\"");
    while (at < end && (at = report.find("{", at + 1)) < end) {
        const std::string entry = report.substr(at, report.find("}", at) - at + 1);
        if (field(entry, "kind") == "call")
            calls.push_back(field(entry, "code") + ' ' + field(entry, "in") + ' ' + field(entry, "outCapacity") + " -> "
                            + field(entry, "status") + ' ' + field(entry, "error") + ' ' + field(entry, "out"));
    }
    return calls;
}

std::string hex(const Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes)
        text += std::string { digits[byte >> 4], digits[byte & 15] };
    return text;
}

// A device handle that is closed whatever the test's outcome.
struct Device {
    explicit Device(const wchar_t* path = kBus0) : handle(openDevice(path, error)) {}
    ~Device() { closeDevice(handle); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    IoControlResult call(std::uint32_t code, const Bytes& input, Bytes& output)
    {
        return deviceIoControl(handle, code, input.data(), static_cast<std::uint32_t>(input.size()), output.data(),
                               static_cast<std::uint32_t>(output.size()));
    }

    std::uint32_t error = 0;
    DeviceHandle handle;
};

// The sim as it powers on, its record empty.
class Sim : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(relayPort(), 0) << "run through scripts/test-windows.sh, which starts the relay";
        for (const char* command : { "plug", "slow 0", "fail all off", "reset", "asio-serve on", "clear" })
            ASSERT_TRUE(simDoes(command)) << command;
        // The relay closes an earlier test's connections in its own time.
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (sim("report").find("\\\"connections\\\":0,") == std::string::npos && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
};

// And the bridge driver running.
class Bridge : public Sim
{
protected:
    void SetUp() override
    {
        Sim::SetUp();
        ASSERT_EQ(driver.start(L"kestrum_bridge_driver.sys", { { L"RelayPort", relayPort() } }), "");
    }

    DriverService driver;
};

TEST_F(Bridge, CallsReachTheSimWithTheirBytesAndItsAnswersComeBack)
{
    ASSERT_TRUE(simDoes("pid 4660"));
    ASSERT_TRUE(simDoes("firmware V9.87.6543"));
    Bytes mixer(66304), firmwareRead(37), phantomOn(37), pid(4, 0xEE), version(32, 0xEE), none;
    for (std::size_t i = 0; i < mixer.size(); ++i)
        mixer[i] = static_cast<unsigned char>(i + i / 251);
    firmwareRead[0] = phantomOn[0] = 0x01;
    firmwareRead[1] = 0x65;
    phantomOn[1] = 0x5B;
    phantomOn[3] = 1;
    phantomOn[4] = 2;
    {
        Device device;
        ASSERT_NE(device.handle, kInvalidDeviceHandle) << device.error;
        EXPECT_TRUE(device.call(0xFFDC2084, none, pid).ok);
        EXPECT_EQ(pid, Bytes({ 0x34, 0x12, 0, 0 }));
        const IoControlResult read = device.call(0xFFDC20A0, firmwareRead, version);
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.bytesReturned, 32u);
        EXPECT_EQ(std::string(version.begin(), version.begin() + 12), std::string("V9.87.6543\0\0", 12));
        EXPECT_TRUE(device.call(0xFFDC2040, mixer, none).ok);
        EXPECT_TRUE(device.call(0xFFDC209C, phantomOn, none).ok);
        // Refused by the sim: the error it answers is the one the caller gets.
        const IoControlResult refused = device.call(0xFFDC2084, { 0 }, pid);
        EXPECT_FALSE(refused.ok);
        EXPECT_EQ(refused.error, 87u);
    }
    const std::vector<std::string> expected {
        "4292616324  4 -> 1 0 34120000",
        "4292616352 " + hex(firmwareRead) + " 32 -> 1 0 " + hex(version),
        "4292616256 " + hex(mixer) + " 0 -> 1 0 ",
        "4292616348 " + hex(phantomOn) + " 0 -> 1 0 ",
        "4292616324 00 4 -> 0 87 ",
    };
    EXPECT_EQ(recordedCalls(), expected);
    EXPECT_NE(sim("report").find("\\\"phantom48v\\\":{\\\"2\\\":true}"), std::string::npos);
}

// The errors that matter to the panel arrive as themselves, and each
// Windows handle is a connection of its own.
TEST_F(Bridge, TheSimsErrorsArriveAsTheyAre)
{
    Device first, second;
    Bytes pid(4);
    ASSERT_TRUE(first.call(0xFFDC2084, {}, pid).ok);
    ASSERT_TRUE(second.call(0xFFDC2084, {}, pid).ok);
    EXPECT_NE(sim("report").find("\\\"connections\\\":2,"), std::string::npos);
    for (const unsigned error : { 1u, 2u, 5u, 31u, 87u, 121u, 122u, 1167u, 4321u }) {
        ASSERT_TRUE(simDoes("fail get_device_pid once " + std::to_string(error)));
        pid.assign(4, 0xEE);
        const IoControlResult result = first.call(0xFFDC2084, {}, pid);
        EXPECT_FALSE(result.ok) << error;
        EXPECT_EQ(result.error, error);
        EXPECT_EQ(pid, Bytes(4, 0xEE)) << error;
        // The failure was the sim's, so the connection still serves.
        EXPECT_TRUE(first.call(0xFFDC2084, {}, pid).ok) << error;
    }
}

TEST_F(Bridge, ASlowSimFailsTheCallWithinTheLimitAndTheHandleStaysFailed)
{
    Device device;
    ASSERT_NE(device.handle, kInvalidDeviceHandle) << device.error;
    ASSERT_TRUE(simDoes("slow 3000"));
    Bytes pid(4);
    const auto start = Clock::now();
    const IoControlResult slow = device.call(0xFFDC2084, {}, pid);
    const auto waited = Clock::now() - start;
    EXPECT_FALSE(slow.ok);
    EXPECT_EQ(slow.error, 121u);
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::milliseconds(2500));
    ASSERT_TRUE(simDoes("slow 0"));
    EXPECT_EQ(device.call(0xFFDC2084, {}, pid).error, 1167u);
    Device again;
    EXPECT_TRUE(again.call(0xFFDC2084, {}, pid).ok);
}

// The bridge names a bus on the Windows side while it is served: it looks
// ten times a second.
bool opensWithin2s(const wchar_t* path, std::uint32_t error)
{
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (Device(path).error != error && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return Device(path).error == error;
}

TEST_F(Bridge, AnUnpluggedSimDropsItsHandlesAndServesNoOpen)
{
    Device device;
    Bytes pid(4);
    ASSERT_TRUE(device.call(0xFFDC2084, {}, pid).ok);
    // Each of the panel's 16 paths names its own bus: only the sim's opens.
    ASSERT_EQ(DeviceSymlinks.size(), 16u);
    for (std::size_t bus = 0; bus < DeviceSymlinks.size(); ++bus)
        EXPECT_EQ(Device(DeviceSymlinks[bus].c_str()).error, bus == 0 ? 0u : 2u) << bus;
    ASSERT_TRUE(simDoes("unplug"));
    EXPECT_EQ(device.call(0xFFDC2084, {}, pid).error, 1167u);
    EXPECT_TRUE(opensWithin2s(kBus0, 2));
    ASSERT_TRUE(simDoes("plug"));
    EXPECT_TRUE(opensWithin2s(kBus0, 0));
    Device again;
    EXPECT_TRUE(again.call(0xFFDC2084, {}, pid).ok);
}

// The ASIO pipe player, started for one test and ended after it.
class AsioPipes : public Sim
{
protected:
    void SetUp() override
    {
        Sim::SetUp();
        SECURITY_ATTRIBUTES inherited { sizeof inherited, nullptr, TRUE };
        HANDLE write = nullptr;
        ASSERT_TRUE(CreatePipe(&output, &write, &inherited, 0));
        SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
        wchar_t path[MAX_PATH];
        const std::wstring program(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
        std::wstring command = L"\"" + program.substr(0, program.find_last_of(L'\\') + 1) + L"kestrum_wine_asio.exe\" "
            + std::to_wstring(relayPort());
        STARTUPINFOW startup {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = write;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &player);
        CloseHandle(write);
        ASSERT_TRUE(started) << GetLastError();
        char ready[6] = {};
        DWORD got = 0;
        ASSERT_TRUE(ReadFile(output, ready, 5, &got, nullptr) && std::string(ready) == "ready") << "the pipe player did not start";
    }

    void TearDown() override
    {
        if (player.hProcess) {
            TerminateProcess(player.hProcess, 0);
            WaitForSingleObject(player.hProcess, 5000);
            CloseHandle(player.hProcess);
            CloseHandle(player.hThread);
        }
        if (output)
            CloseHandle(output);
    }

    PROCESS_INFORMATION player {};
    HANDLE output = nullptr;
};

// Each request is one message: whole in a read that has room for it, and
// "more data" in one that has not, as a message-mode pipe answers.
TEST_F(AsioPipes, RequestsArriveAsOneMessageEachOnTheProgramsPipe)
{
    std::uint32_t error = 0;
    const std::unique_ptr<PipeObject, void (*)(PipeHandle)> server(createNamedPipe(L"\\\\.\\pipe\\KestrumASIOToPannel", error), closePipe);
    ASSERT_NE(server.get(), kInvalidPipeHandle) << error;
    Bytes long300(300);
    for (std::size_t i = 0; i < long300.size(); ++i)
        long300[i] = static_cast<unsigned char>(i);
    std::memcpy(&long300[16], "\1\0\0\0", 4);
    const struct {
        const char* command;
        std::uint32_t capacity;
        Bytes message; // empty: the read finds more data
    } requests[] = {
        { "asio-request 1 2 3 4 5", 20, { 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0 } },
        { "asio-request --length 300", kPipeBufferBytes, long300 },
        { "asio-request --length 300", 20, {} },
    };
    for (const auto& request : requests) {
        SCOPED_TRACE(request.command);
        ASSERT_TRUE(simDoes(request.command));
        const bool connected = connectNamedPipe(server.get(), error);
        ASSERT_TRUE(connected || error == 232 || error == 535) << error;
        Bytes message(kPipeBufferBytes);
        std::uint32_t length = 0;
        const bool read = readPipe(server.get(), message.data(), request.capacity, length, error, 5000);
        EXPECT_EQ(read, !request.message.empty());
        EXPECT_EQ(error, request.message.empty() ? 234u : 0u);
        if (read) {
            EXPECT_EQ(Bytes(message.begin(), message.begin() + length), request.message);
        }
        disconnectNamedPipe(server.get());
    }
}

TEST_F(AsioPipes, ResetNoticesReachTheSimsPipe)
{
    for (int notice = 1; notice <= 2; ++notice) {
        std::uint32_t error = 0;
        const PipeHandle pipe = openPipe(L"\\\\.\\pipe\\KestrumPannelToASIO", error);
        ASSERT_NE(pipe, kInvalidPipeHandle) << error;
        EXPECT_TRUE(writePipe(pipe, "1", 1, error)) << error;
        closePipe(pipe);
        const std::string counted = "\\\"notices\\\":" + std::to_string(notice);
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (sim("report").find(counted) == std::string::npos && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_NE(sim("report").find(counted), std::string::npos) << notice;
    }
}

} // namespace
