// The Windows device channel against a real kernel driver that Wine loads,
// serving buses 2 and 5: what CreateFileW reports for the panel's device
// paths, and the bytes each kind of DeviceIoControl call carries to the
// driver and back. The driver keeps the last call on each device object, so
// the tests check what reached it, not what was meant to.

#include "DriverService.h"
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
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

namespace {

// The test driver serving buses 2 and 5, for one test.
class Driver : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(driver.start(L"kestrum_test_driver.sys", { { L"Buses", (1u << 2) | (1u << 5) } }), "");
    }

    DriverService driver;
};

// A device handle that is closed whatever the test's outcome.
struct Device {
    explicit Device(int bus) : handle(openDevice(DeviceSymlinks.at(bus), error)) {}
    ~Device() { closeDevice(handle); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    std::uint32_t error = 0;
    DeviceHandle handle;
};

std::unique_ptr<KestrumTestRecord> recordOf(DeviceHandle handle)
{
    auto record = std::make_unique<KestrumTestRecord>();
    const IoControlResult result = deviceIoControl(handle, KESTRUM_TEST_READ_RECORD, nullptr, 0, record.get(), sizeof *record);
    return result.ok && result.bytesReturned == sizeof *record ? std::move(record) : nullptr;
}

} // namespace

TEST_F(Driver, BusPathsReachTheirDevices)
{
    for (int bus = 0; bus < 16; ++bus) {
        const Device device(bus);
        const bool served = bus == 2 || bus == 5;
        ASSERT_EQ(device.handle != kInvalidDeviceHandle, served) << bus;
        EXPECT_EQ(device.error, served ? 0u : DWORD(ERROR_FILE_NOT_FOUND)) << bus;
    }
    // Each device object saw its one handle opened and closed; the driver
    // hears of a close in its own time.
    for (const int bus : { 2, 5 }) {
        const Device device(bus);
        const auto deadline = Clock::now() + 2s;
        std::unique_ptr<KestrumTestRecord> record = recordOf(device.handle);
        while (record && record->closes == 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
            record = recordOf(device.handle);
        }
        ASSERT_TRUE(record);
        EXPECT_EQ(record->bus, unsigned(bus));
        EXPECT_EQ(record->opens, 2u);
        EXPECT_EQ(record->closes, 1u);
    }
}

TEST_F(Driver, CallsCarryTheirBytes)
{
    const Device device(2);
    ASSERT_NE(device.handle, kInvalidDeviceHandle) << device.error;
    // Every byte of the mixer record different from its neighbours, so a lost or shifted block shows.
    Bytes mixer(66304);
    for (std::size_t i = 0; i < mixer.size(); ++i)
        mixer[i] = static_cast<unsigned char>(i + i / 251);
    Bytes firmwareRead(37), otherRead(37), version(32);
    firmwareRead[0] = otherRead[0] = 0x01;
    firmwareRead[1] = 0x65;
    otherRead[1] = 0x03;
    std::memcpy(version.data(), KESTRUM_TEST_FIRMWARE, 10);
    struct Call {
        const char* what;
        std::uint32_t code;
        Bytes input;
        std::uint32_t outputLength;
        // 0: the driver answers with output.
        std::uint32_t error;
        Bytes output;
    };
    const Call calls[] = {
        { "PID read", 0xFFDC2084, {}, 4, 0, { KESTRUM_TEST_PID, 0, 0, 0 } },
        { "nothing either way", 0xFFDC2078, {}, 0, 0, {} },
        { "buffer size set", 0xFFDC2044, { 0, 2, 0, 0 }, 0, 0, {} },
        { "mixer record", 0xFFDC2040, mixer, 0, 0, {} },
        { "USB read", 0xFFDC20A0, firmwareRead, 32, 0, version },
        { "unknown code", 0xFFDC2FFC, {}, 0, ERROR_INVALID_FUNCTION, {} },
        { "mixer record one byte short", 0xFFDC2040, Bytes(mixer.begin(), mixer.end() - 1), 0, ERROR_INVALID_PARAMETER, {} },
        { "PID read into two bytes", 0xFFDC2084, {}, 2, ERROR_INVALID_PARAMETER, {} },
        { "USB read of something else", 0xFFDC20A0, otherRead, 32, ERROR_NOT_SUPPORTED, {} },
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.what);
        Bytes output(call.outputLength, 0xEE);
        const IoControlResult result = deviceIoControl(device.handle, call.code, call.input.data(), std::uint32_t(call.input.size()),
                                                       output.data(), call.outputLength);
        EXPECT_EQ(result.ok, call.error == 0);
        EXPECT_EQ(result.error, call.error);
        EXPECT_EQ(result.bytesReturned, call.error ? 0u : call.outputLength);
        // A refused call leaves the output as it was.
        EXPECT_EQ(output, call.error ? Bytes(call.outputLength, 0xEE) : call.output);
        const std::unique_ptr<KestrumTestRecord> record = recordOf(device.handle);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->code, call.code);
        EXPECT_EQ(record->inputLength, call.input.size());
        EXPECT_EQ(record->outputLength, call.outputLength);
        EXPECT_EQ(Bytes(record->input, record->input + call.input.size()), call.input);
    }
}
