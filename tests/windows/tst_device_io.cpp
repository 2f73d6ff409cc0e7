// The Windows device channel against a real kernel driver that Wine loads:
// what CreateFileW reports for the panel's device paths with and without a
// driver, and the bytes each kind of DeviceIoControl call carries to the
// driver and back. The driver records the last call on each device object,
// so the tests check what reached it, not what was meant to.

#include "driver/DeviceSymlinks.h"
#include "platform/DeviceIo.h"
#include "tests/windows/driver/TestDriverProtocol.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace platform;
using Bytes = std::vector<unsigned char>;

namespace {

// The panel's driver commands these tests send.
constexpr std::uint32_t kSetMixer = 0xFFDC2040;
constexpr std::uint32_t kSetBufferSize = 0xFFDC2044;
constexpr std::uint32_t kGetBufferSize = 0xFFDC2048;
constexpr std::uint32_t kStopAllAudio = 0xFFDC2078;
constexpr std::uint32_t kGetDevicePid = 0xFFDC2084;
constexpr std::uint32_t kReadUsbControl = 0xFFDC20A0;
// Function 0xBFF: no command of the panel's driver.
constexpr std::uint32_t kUnknownCode = 0xFFDC2FFC;

constexpr std::uint32_t kMixerBytes = 66304;
constexpr std::uint32_t kUsbPacketBytes = 37;
constexpr std::uint32_t kUsbReplyBytes = 32;

std::wstring besideThisProgram(const std::wstring& name)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring program(path, length);
    return program.substr(0, program.find_last_of(L'\\') + 1) + name;
}

// The test driver installed as a kernel-driver service and started, serving
// the buses of the mask; stopped and removed again on destruction.
class TestDriver
{
public:
    explicit TestDriver(DWORD buses) { install(buses); }

    ~TestDriver()
    {
        if (m_service) {
            SERVICE_STATUS status;
            if (ControlService(m_service, SERVICE_CONTROL_STOP, &status))
                waitFor(SERVICE_STOPPED);
            DeleteService(m_service);
            CloseServiceHandle(m_service);
        }
        if (m_manager)
            CloseServiceHandle(m_manager);
    }

    TestDriver(const TestDriver&) = delete;
    TestDriver& operator=(const TestDriver&) = delete;

    // Empty while the driver runs; otherwise the step that failed.
    const std::string& failure() const { return m_failure; }

private:
    bool install(DWORD buses)
    {
        const std::wstring name = L"KestrumTestDriver" + std::to_wstring(GetCurrentProcessId());
        m_manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
        if (!m_manager)
            return fail("OpenSCManagerW");
        const std::wstring image = besideThisProgram(L"kestrum_test_driver.sys");
        m_service = CreateServiceW(m_manager, name.c_str(), name.c_str(),
                                   SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE,
                                   SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                   image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        if (!m_service)
            return fail("CreateServiceW");
        const std::wstring key = L"System\\CurrentControlSet\\Services\\" + name;
        const LSTATUS stored = RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Buses", REG_DWORD,
                                               &buses, sizeof buses);
        if (stored != ERROR_SUCCESS) {
            SetLastError(static_cast<DWORD>(stored));
            return fail("RegSetKeyValueW");
        }
        if (!StartServiceW(m_service, 0, nullptr))
            return fail("StartServiceW");
        return waitFor(SERVICE_RUNNING) || fail("waiting for the driver to run");
    }

    bool waitFor(DWORD state)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        SERVICE_STATUS status {};
        while (QueryServiceStatus(m_service, &status) && status.dwCurrentState != state) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return status.dwCurrentState == state;
    }

    bool fail(const char* step)
    {
        m_failure = std::string(step) + " failed, error " + std::to_string(GetLastError());
        return false;
    }

    SC_HANDLE m_manager = nullptr;
    SC_HANDLE m_service = nullptr;
    std::string m_failure;
};

template <DWORD Buses>
class DriverServing : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(driver.failure(), ""); }

    TestDriver driver { Buses };
};

using DriverOnBus2 = DriverServing<1u << 2>;
using DriverOnBuses2And5 = DriverServing<(1u << 2) | (1u << 5)>;

// A device handle that is closed whatever the test's outcome.
struct Device {
    explicit Device(const std::wstring& path) { handle = openDevice(path, error); }
    ~Device() { closeDevice(handle); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    DeviceHandle handle;
    std::uint32_t error = 0;
};

// Tries the device paths in list order, as the driver channel does, until
// one opens; keeps the error number of each that did not.
struct FirstDevice {
    FirstDevice()
    {
        for (const std::wstring& path : DeviceSymlinks) {
            std::uint32_t error = 0;
            handle = openDevice(path, error);
            if (handle != kInvalidDeviceHandle)
                return;
            failures.push_back(error);
        }
    }
    ~FirstDevice() { closeDevice(handle); }
    FirstDevice(const FirstDevice&) = delete;
    FirstDevice& operator=(const FirstDevice&) = delete;

    DeviceHandle handle = kInvalidDeviceHandle;
    std::vector<std::uint32_t> failures;
};

std::unique_ptr<KestrumTestRecord> readRecord(DeviceHandle handle)
{
    auto record = std::make_unique<KestrumTestRecord>();
    const IoControlResult result =
        deviceIoControl(handle, KESTRUM_TEST_READ_RECORD, nullptr, 0, record.get(), sizeof *record);
    if (!result.ok || result.bytesReturned != sizeof *record)
        return nullptr;
    return record;
}

::testing::AssertionResult lastCallWas(DeviceHandle handle, std::uint32_t code, const Bytes& input,
                                       std::uint32_t outputLength)
{
    const std::unique_ptr<KestrumTestRecord> record = readRecord(handle);
    if (!record)
        return ::testing::AssertionFailure() << "the driver's record could not be read";
    if (record->code != code || record->inputLength != input.size() || record->outputLength != outputLength)
        return ::testing::AssertionFailure() << std::hex << "the driver saw code 0x" << record->code << std::dec
                                             << ", " << record->inputLength << " bytes in, "
                                             << record->outputLength << " out";
    if (!input.empty() && std::memcmp(record->input, input.data(), input.size()) != 0)
        return ::testing::AssertionFailure() << "the input bytes differ from those sent";
    return ::testing::AssertionSuccess();
}

Bytes wordBytes(std::uint32_t value)
{
    return { static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
             static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24) };
}

Bytes firmwareRequest()
{
    Bytes packet(kUsbPacketBytes, 0);
    packet[0] = 0x01;
    packet[1] = 0x65;
    return packet;
}

} // namespace

TEST(NoDriver, EveryDevicePathFailsWithFileNotFound)
{
    ASSERT_EQ(DeviceSymlinks.size(), 16u);
    const FirstDevice device;
    EXPECT_EQ(device.handle, kInvalidDeviceHandle);
    EXPECT_EQ(device.failures, std::vector<std::uint32_t>(16, ERROR_FILE_NOT_FOUND));
}

TEST_F(DriverOnBuses2And5, TheFirstBusThatOpensIsUsedAndLaterOnesAreNotTried)
{
    {
        const FirstDevice device;
        ASSERT_NE(device.handle, kInvalidDeviceHandle);
        EXPECT_EQ(device.failures, std::vector<std::uint32_t>(2, ERROR_FILE_NOT_FOUND));
        const std::unique_ptr<KestrumTestRecord> record = readRecord(device.handle);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->bus, 2u);
        EXPECT_EQ(record->opens, 1u);
    }
    const Device bus5(DeviceSymlinks[5]);
    ASSERT_NE(bus5.handle, kInvalidDeviceHandle) << bus5.error;
    const std::unique_ptr<KestrumTestRecord> record = readRecord(bus5.handle);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->bus, 5u);
    EXPECT_EQ(record->opens, 1u) << "only this test's own open reached bus 5";
}

TEST_F(DriverOnBus2, CallsWithoutInputReachTheDriverAndAnswersComeBack)
{
    const Device device(DeviceSymlinks[2]);
    ASSERT_NE(device.handle, kInvalidDeviceHandle) << device.error;

    std::uint32_t pid = 0;
    IoControlResult result = deviceIoControl(device.handle, kGetDevicePid, nullptr, 0, &pid, sizeof pid);
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.bytesReturned, 4u);
    EXPECT_EQ(pid, KESTRUM_TEST_PID);
    EXPECT_TRUE(lastCallWas(device.handle, kGetDevicePid, {}, 4));

    result = deviceIoControl(device.handle, kStopAllAudio, nullptr, 0, nullptr, 0);
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.bytesReturned, 0u);
    EXPECT_TRUE(lastCallWas(device.handle, kStopAllAudio, {}, 0));
}

TEST_F(DriverOnBus2, FourBytesGoInAndComeBackThroughTheSetGetPair)
{
    const Device device(DeviceSymlinks[2]);
    ASSERT_NE(device.handle, kInvalidDeviceHandle) << device.error;

    const std::uint32_t size = 512;
    IoControlResult result = deviceIoControl(device.handle, kSetBufferSize, &size, sizeof size, nullptr, 0);
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(lastCallWas(device.handle, kSetBufferSize, wordBytes(512), 0));

    std::uint32_t stored = 0;
    result = deviceIoControl(device.handle, kGetBufferSize, nullptr, 0, &stored, sizeof stored);
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.bytesReturned, 4u);
    EXPECT_EQ(stored, 512u);
}

TEST_F(DriverOnBus2, TheMixerRecordArrivesWhole)
{
    const Device device(DeviceSymlinks[2]);
    ASSERT_NE(device.handle, kInvalidDeviceHandle) << device.error;

    // Every gain different, so a lost, repeated or shifted block shows.
    std::vector<double> gains(kMixerBytes / sizeof(double));
    for (std::size_t i = 0; i < gains.size(); ++i)
        gains[i] = static_cast<double>(i) / 4096.0;
    Bytes record(kMixerBytes);
    std::memcpy(record.data(), gains.data(), kMixerBytes);

    const IoControlResult result = deviceIoControl(device.handle, kSetMixer, record.data(), kMixerBytes, nullptr, 0);
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.bytesReturned, 0u);
    EXPECT_TRUE(lastCallWas(device.handle, kSetMixer, record, 0));
}

TEST_F(DriverOnBus2, TheUsbPacketGoesInAndTheReplyComesBack)
{
    const Device device(DeviceSymlinks[2]);
    ASSERT_NE(device.handle, kInvalidDeviceHandle) << device.error;

    const Bytes packet = firmwareRequest();
    Bytes reply(kUsbReplyBytes, 0xEE);
    const IoControlResult result =
        deviceIoControl(device.handle, kReadUsbControl, packet.data(), kUsbPacketBytes, reply.data(), kUsbReplyBytes);
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.bytesReturned, kUsbReplyBytes);
    Bytes expected(kUsbReplyBytes, 0);
    std::memcpy(expected.data(), KESTRUM_TEST_FIRMWARE, 10);
    EXPECT_EQ(reply, expected);
    EXPECT_TRUE(lastCallWas(device.handle, kReadUsbControl, packet, kUsbReplyBytes));
}

TEST_F(DriverOnBus2, RefusedCallsFailWithTheDriversErrorNumberAndLeaveTheOutput)
{
    const Device device(DeviceSymlinks[2]);
    ASSERT_NE(device.handle, kInvalidDeviceHandle) << device.error;

    Bytes otherCommand = firmwareRequest();
    otherCommand[1] = 0x03;
    struct Case {
        const char* what;
        std::uint32_t code;
        Bytes input;
        std::uint32_t outputLength;
        std::uint32_t error;
    };
    const Case cases[] = {
        { "unknown code", kUnknownCode, {}, 0, ERROR_INVALID_FUNCTION },
        { "mixer record one byte short", kSetMixer, Bytes(kMixerBytes - 1, 0x11), 0, ERROR_INVALID_PARAMETER },
        { "PID read into two bytes", kGetDevicePid, {}, 2, ERROR_INVALID_PARAMETER },
        { "USB read of no firmware request", kReadUsbControl, otherCommand, kUsbReplyBytes, ERROR_NOT_SUPPORTED },
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        Bytes output(each.outputLength, 0xEE);
        const IoControlResult result =
            deviceIoControl(device.handle, each.code, each.input.data(), static_cast<std::uint32_t>(each.input.size()),
                            output.data(), each.outputLength);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, each.error);
        EXPECT_EQ(result.bytesReturned, 0u);
        EXPECT_EQ(output, Bytes(each.outputLength, 0xEE));
        EXPECT_TRUE(lastCallWas(device.handle, each.code, each.input, each.outputLength));
    }
}

TEST_F(DriverOnBus2, HandlesShareTheDeviceAndClosingOneReleasesItAlone)
{
    Device kept(DeviceSymlinks[2]);
    ASSERT_NE(kept.handle, kInvalidDeviceHandle) << kept.error;
    std::uint32_t error = 0;
    const DeviceHandle closed = openDevice(DeviceSymlinks[2], error);
    ASSERT_NE(closed, kInvalidDeviceHandle) << error;
    closeDevice(closed);

    // The driver hears of the close on its own time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::unique_ptr<KestrumTestRecord> record = readRecord(kept.handle);
    while (record && record->closes == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        record = readRecord(kept.handle);
    }
    ASSERT_TRUE(record);
    EXPECT_EQ(record->opens, 2u);
    EXPECT_EQ(record->closes, 1u);

    std::uint32_t pid = 0;
    EXPECT_TRUE(deviceIoControl(kept.handle, kGetDevicePid, nullptr, 0, &pid, sizeof pid).ok);
}
