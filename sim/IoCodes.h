#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The driver's I/O-control codes: 0xFFDC0000 + 4 x function number.
namespace iocode {

constexpr quint32 kGetSampleRate = 0xFFDC2020;
constexpr quint32 kSetSampleRate = 0xFFDC2038;
constexpr quint32 kSetMixer = 0xFFDC2040;
constexpr quint32 kSetBufferSize = 0xFFDC2044;
constexpr quint32 kGetBufferSize = 0xFFDC2048;
constexpr quint32 kGetUsbBufferSize = 0xFFDC204C;
constexpr quint32 kSetUsbBufferSize = 0xFFDC2050;
constexpr quint32 kGetMeterData = 0xFFDC2074;
constexpr quint32 kStopAllAudio = 0xFFDC2078;
constexpr quint32 kAudioInit = 0xFFDC207C;
constexpr quint32 kRestartAudio = 0xFFDC2080;
constexpr quint32 kGetDevicePid = 0xFFDC2084;
constexpr quint32 kSetWdmNum = 0xFFDC2088;
constexpr quint32 kSetSafeModeOn = 0xFFDC2090;
constexpr quint32 kSetSafeModeOff = 0xFFDC2094;
constexpr quint32 kWriteUsbControl = 0xFFDC209C;
constexpr quint32 kReadUsbControl = 0xFFDC20A0;
constexpr quint32 kGetWdmNum = 0xFFDC20A4;
constexpr quint32 kSetMasterVolume = 0xFFDC20AC;
constexpr quint32 kGetMasterVolume = 0xFFDC20B0;
constexpr quint32 kSetMasterMute = 0xFFDC20B4;
constexpr quint32 kGetMasterMute = 0xFFDC20B8;

struct Info {
    quint32 code;
    const char* name;
    int inputLength;
    int outputLength;
};

// Null for a code the driver does not know.
const Info* find(quint32 code);

// "io_get_sample_rate", or the code in hex when unknown.
QString name(quint32 code);

// A name, with or without its "io_", or a number.
std::optional<quint32> parse(const QString& text);

} // namespace iocode
