#include "sim/IoCodes.h"

#include "sim/MixerRecord.h"
#include "sim/ReceivedUsbPacket.h"
#include "sim/SimDevice.h"
#include "sim/TextValue.h"

#include <array>
#include <limits>

namespace iocode {

namespace {

const std::array<Info, 22> kCodes { {
    { kGetSampleRate, "io_get_sample_rate", 0, 4 },
    { kSetSampleRate, "io_set_sample_rate", 4, 0 },
    { kSetMixer, "io_set_mixer", MixerRecord::kSize, 0 },
    { kSetBufferSize, "io_set_buffer_size", 4, 0 },
    { kGetBufferSize, "io_get_buffer_size", 0, 4 },
    { kGetUsbBufferSize, "io_get_usb_buffer_size", 0, 4 },
    { kSetUsbBufferSize, "io_set_usb_buffer_size", 4, 0 },
    { kGetMeterData, "io_get_meter_data", 0, SimDevice::kMeterCount * 4 },
    { kStopAllAudio, "io_stop_all_audio", 0, 0 },
    { kAudioInit, "io_audio_init", 0, 0 },
    { kRestartAudio, "io_restart_audio", 0, 0 },
    { kGetDevicePid, "io_get_device_pid", 0, 4 },
    { kSetWdmNum, "io_set_wdm_num", 4, 0 },
    { kSetSafeModeOn, "io_set_safe_mode_on", 0, 0 },
    { kSetSafeModeOff, "io_set_safe_mode_off", 0, 0 },
    { kWriteUsbControl, "io_write_usb_control", ReceivedUsbPacket::kSize, 0 },
    { kReadUsbControl, "io_read_usb_control", ReceivedUsbPacket::kSize, ReceivedUsbPacket::kReplySize },
    { kGetWdmNum, "io_get_wdm_num", 0, 4 },
    { kSetMasterVolume, "io_set_master_volume", 2, 0 },
    { kGetMasterVolume, "io_get_master_volume", 0, 2 },
    { kSetMasterMute, "io_set_master_mute", 1, 0 },
    { kGetMasterMute, "io_get_master_mute", 0, 1 },
} };

} // namespace

const Info* find(quint32 code)
{
    for (const Info& info : kCodes) {
        if (info.code == code)
            return &info;
    }
    return nullptr;
}

QString name(quint32 code)
{
    const Info* info = find(code);
    return info ? QString::fromLatin1(info->name) : QStringLiteral("0x%1").arg(code, 8, 16, QLatin1Char('0'));
}

std::optional<quint32> parse(const QString& text)
{
    const QString lower = text.toLower();
    for (const Info& info : kCodes) {
        const QString full = QString::fromLatin1(info.name);
        if (lower == full || QStringLiteral("io_") + lower == full)
            return info.code;
    }
    const std::optional<quint64> number = textvalue::number(lower, std::numeric_limits<quint32>::max());
    return number ? std::optional<quint32>(static_cast<quint32>(*number)) : std::nullopt;
}

} // namespace iocode
