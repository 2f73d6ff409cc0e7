#include "driver/KestrumIoControl.h"

#include "driver/DriverLog.h"
#include "driver/DeviceSymlinks.h"
#include "driver/UsbControlPacket.h"
#include "platform/WinError.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

namespace {

// I/O-control codes: device type 0xFFDC, buffered, any access.
enum IoControlCode : std::uint32_t {
    kGetSampleRate = 0xFFDC2020,
    kSetSampleRate = 0xFFDC2038,
    kSetMixer = 0xFFDC2040,
    kSetBufferSize = 0xFFDC2044,
    kGetBufferSize = 0xFFDC2048,
    kGetUsbBufferSize = 0xFFDC204C,
    kSetUsbBufferSize = 0xFFDC2050,
    kGetMeterData = 0xFFDC2074,
    kStopAllAudio = 0xFFDC2078,
    kAudioInit = 0xFFDC207C,
    kRestartAudio = 0xFFDC2080,
    kGetDevicePid = 0xFFDC2084,
    kSetWdmNum = 0xFFDC2088,
    kSafeModeOn = 0xFFDC2090,
    kSafeModeOff = 0xFFDC2094,
    kWriteUsbControl = 0xFFDC209C,
    kReadUsbControl = 0xFFDC20A0,
    kGetWdmNum = 0xFFDC20A4,
    kSetMasterVolume = 0xFFDC20AC,
    kGetMasterVolume = 0xFFDC20B0,
    kSetMasterMute = 0xFFDC20B4,
    kGetMasterMute = 0xFFDC20B8,
};

// USB control commands carried in byte 1 of the packet.
enum UsbCommand : std::uint8_t {
    kUsbOutVolume = 0x03,
    kUsbMicVolume = 0x07,
    kUsbMic20dB = 0x5A,
    kUsbMic48V = 0x5B,
    kUsbOtgChipOff = 0x5E,
    kUsbOtgChipOn = 0x5F,
    kUsbFirmwareVersion = 0x65,
    kUsbMicInstrSwitch = 0x64,
    kUsbCloseFeedback = 0x68,
};

constexpr std::uint32_t kUsbReplySize = 32;
constexpr unsigned int kFirmwareLength = 10;
constexpr double kFullScale = 2147483647.0;
constexpr double kMaxGain = 1.9952623149688795; // +6 dB

// Opens and calls of this process that timed out; see timedOutCalls().
unsigned int timeouts = 0;

// Set by a time-out, cleared when the event loop runs again.
bool deviceUnanswered = false;

void countTimeout(std::uint32_t error)
{
    if (error != platform::winerror::kSemTimeout)
        return;
    ++timeouts;
    if (deviceUnanswered)
        return;
    deviceUnanswered = true;
    QTimer::singleShot(0, [] { deviceUnanswered = false; });
}

void logFirmwareReadFailure()
{
    qCDebug(lcDriver) << "Failed to read firmware version from device.";
}

} // namespace

unsigned int KestrumIoControl::timedOutCalls()
{
    return timeouts;
}

KestrumIoControl::~KestrumIoControl()
{
    closeHandle();
}

bool KestrumIoControl::createDevice()
{
    for (const std::wstring& path : DeviceSymlinks) {
        std::uint32_t error = 0;
        const platform::DeviceHandle handle = platform::openDevice(path, error);
        if (handle == platform::kInvalidDeviceHandle) {
            countTimeout(error);
            qCDebug(lcDriver).noquote() << "Open device" << QString::fromStdWString(path) << "failed, error:" << error;
            continue;
        }
        deviceHandle = handle;
        qCDebug(lcDriver).noquote() << "Open device" << QString::fromStdWString(path) << "success!";
        return true;
    }
    return false;
}

void KestrumIoControl::closeHandle()
{
    channelLost = false;
    if (!isOpen())
        return;
    platform::closeDevice(deviceHandle);
    deviceHandle = platform::kInvalidDeviceHandle;
}

platform::IoControlResult KestrumIoControl::call(std::uint32_t code, const void* input, std::uint32_t inputLength,
                                                 void* output, std::uint32_t outputCapacity)
{
    if (deviceUnanswered)
        return { false, platform::winerror::kSemTimeout };
    if (channelLost && reconnects)
        reconnect();
    if (!isOpen())
        return {};
    const platform::IoControlResult result =
        platform::deviceIoControl(deviceHandle, code, input, inputLength, output, outputCapacity);
    countTimeout(result.error);
    channelLost = result.channelLost;
    return result;
}

void KestrumIoControl::reconnectWhenLost(std::function<void()> handler)
{
    reconnects = true;
    reconnected = std::move(handler);
}

// Until a device object opens again every call fails as on a closed channel,
// and tries again.
void KestrumIoControl::reconnect()
{
    platform::closeDevice(deviceHandle);
    deviceHandle = platform::kInvalidDeviceHandle;
    if (!createDevice())
        return;
    channelLost = false;
    if (reconnected)
        reconnected();
}

bool KestrumIoControl::sendOnly(std::uint32_t code, const void* input, std::uint32_t inputLength)
{
    return call(code, input, inputLength, nullptr, 0).ok;
}

bool KestrumIoControl::sendWord(std::uint32_t code, std::uint32_t value)
{
    return sendOnly(code, &value, sizeof value);
}

template <typename T>
bool KestrumIoControl::readInto(std::uint32_t code, T& value)
{
    T received {};
    if (!call(code, nullptr, 0, &received, sizeof received).ok)
        return false;
    value = received;
    return true;
}

bool KestrumIoControl::io_get_current_sample_rate(unsigned int* rate)
{
    return readInto(kGetSampleRate, *rate);
}

unsigned int KestrumIoControl::io_get_samplerate()
{
    unsigned int rate = 0;
    return readInto(kGetSampleRate, rate) ? rate : 0;
}

bool KestrumIoControl::io_set_sample_rate(unsigned int rate)
{
    return sendWord(kSetSampleRate, rate);
}

bool KestrumIoControl::io_set_mixer(_MIXER_FADER_DATA& data)
{
    return sendOnly(kSetMixer, &data, sizeof data);
}

bool KestrumIoControl::io_set_buffer_size(unsigned int size)
{
    return sendWord(kSetBufferSize, size);
}

bool KestrumIoControl::io_get_buffer_size(unsigned int* size)
{
    if (!readInto(kGetBufferSize, *size))
        return false;
    qCDebug(lcDriver) << "Buffer size:" << *size;
    return true;
}

bool KestrumIoControl::io_get_usb_buffer_size(unsigned int* size)
{
    return readInto(kGetUsbBufferSize, *size);
}

bool KestrumIoControl::io_set_usb_buffer_size(unsigned int size)
{
    return sendWord(kSetUsbBufferSize, size);
}

bool KestrumIoControl::io_get_meter_data(_MIXER_METER_DATA& data)
{
    return call(kGetMeterData, nullptr, 0, &data, sizeof data).ok;
}

bool KestrumIoControl::io_stop_all_audio()
{
    return sendOnly(kStopAllAudio);
}

bool KestrumIoControl::io_audio_init()
{
    return sendOnly(kAudioInit);
}

bool KestrumIoControl::io_restart_audio()
{
    return sendOnly(kRestartAudio);
}

bool KestrumIoControl::io_get_device_pid(unsigned int& pid)
{
    return readInto(kGetDevicePid, pid);
}

bool KestrumIoControl::io_set_wdm_num(unsigned int n)
{
    return sendWord(kSetWdmNum, n);
}

int KestrumIoControl::io_get_wdm_num()
{
    std::uint32_t count = 0;
    return readInto(kGetWdmNum, count) ? static_cast<int>(count) : 0;
}

bool KestrumIoControl::io_set_safe_mode_on()
{
    return sendOnly(kSafeModeOn);
}

bool KestrumIoControl::io_set_safe_mode_off()
{
    return sendOnly(kSafeModeOff);
}

bool KestrumIoControl::io_write_usb_control(unsigned char* packet, unsigned int length)
{
    return sendOnly(kWriteUsbControl, packet, length);
}

bool KestrumIoControl::io_read_usb_control(const std::vector<unsigned char>& request,
                                           std::vector<unsigned char>& reply)
{
    if (!isOpen() && !channelLost)
        return false;
    reply.resize(kUsbReplySize);
    return call(kReadUsbControl, request.data(), static_cast<std::uint32_t>(request.size()), reply.data(),
                kUsbReplySize).ok;
}

bool KestrumIoControl::io_get_firmware_version(unsigned char* buffer, unsigned int length)
{
    try {
        UsbControlPacket request(kUsbFirmwareVersion);
        unsigned char reply[kUsbReplySize] = {};
        if (!call(kReadUsbControl, request.data(), request.size(), reply, sizeof reply).ok) {
            logFirmwareReadFailure();
            return false;
        }
        std::memcpy(buffer, reply, std::min(length, kFirmwareLength));
        return true;
    } catch (const std::exception& e) {
        qCWarning(lcDriver).nospace() << "Failed to get firmware version: " << e.what();
    } catch (...) {
        qCWarning(lcDriver) << "Failed to get firmware version: Unknown error";
    }
    return false;
}

bool KestrumIoControl::io_set_master_volume(unsigned short volume)
{
    const std::uint16_t value = volume;
    return sendOnly(kSetMasterVolume, &value, sizeof value);
}

bool KestrumIoControl::io_get_master_volume(unsigned short* volume)
{
    return readInto(kGetMasterVolume, *volume);
}

bool KestrumIoControl::io_set_master_mute(bool mute)
{
    const unsigned char value = mute ? 1 : 0;
    return sendOnly(kSetMasterMute, &value, sizeof value);
}

bool KestrumIoControl::io_get_master_mute(bool& mute)
{
    unsigned char byte = 0;
    if (!readInto(kGetMasterMute, byte))
        return false;
    mute = byte != 0;
    return true;
}

bool KestrumIoControl::sendUsbPacket(const UsbControlPacket& packet, const char* errorPrefix,
                                     const char* unknownErrorPrefix)
{
    try {
        return sendOnly(kWriteUsbControl, packet.data(), packet.size());
    } catch (const std::exception& e) {
        qCWarning(lcDriver).nospace() << errorPrefix << e.what();
    } catch (...) {
        qCWarning(lcDriver).nospace() << (unknownErrorPrefix ? unknownErrorPrefix : errorPrefix) << "Unknown error";
    }
    return false;
}

bool KestrumIoControl::io_set_out_volume(int channel, int value)
{
    return sendUsbPacket(UsbControlPacket::volume(kUsbOutVolume, channel, value), "Failed to set out volume: ");
}

bool KestrumIoControl::io_set_mic_volume(int channel, int value)
{
    return sendUsbPacket(UsbControlPacket::volume(kUsbMicVolume, channel, value), "Failed to set mic volume: ");
}

bool KestrumIoControl::io_set_mic_20db(int channel, int state)
{
    return sendUsbPacket(UsbControlPacket::switchState(kUsbMic20dB, channel, state), "Failed to set mic 20dB: ");
}

bool KestrumIoControl::io_set_mic_48v(int channel, int state)
{
    return sendUsbPacket(UsbControlPacket::switchState(kUsbMic48V, channel, state), "Failed to set mic 48V: ");
}

bool KestrumIoControl::io_set_otg_chip_off()
{
    return sendUsbPacket(UsbControlPacket(kUsbOtgChipOff), "Failed to set OTG Off: ");
}

bool KestrumIoControl::io_set_otg_chip_on()
{
    return sendUsbPacket(UsbControlPacket(kUsbOtgChipOn), "Failed to set OTG On: ");
}

bool KestrumIoControl::io_mic_instr_switch(int channel, int state)
{
    return sendUsbPacket(UsbControlPacket::switchState(kUsbMicInstrSwitch, channel, state),
                         "Failed to switch mic instruction: ");
}

bool KestrumIoControl::io_close_feedback()
{
    // The line for an unknown error has always read with a capital F.
    return sendUsbPacket(UsbControlPacket(kUsbCloseFeedback), "Failed to set close feedback: ",
                         "Failed to set close Feedback: ");
}

double KestrumIoControl::dbToValue(double dB)
{
    if (dB <= -80.0)
        return 0.0;
    if (dB > 6.0)
        return kMaxGain;
    return std::pow(10.0, dB / 20.0);
}

double KestrumIoControl::pcmToDb(int sample)
{
    return 20.0 * std::log10(std::fabs(static_cast<double>(sample)) / kFullScale);
}
