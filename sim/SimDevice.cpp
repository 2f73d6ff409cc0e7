#include "sim/SimDevice.h"

#include "platform/WinError.h"
#include "sim/IoCodes.h"
#include "sim/ReceivedUsbPacket.h"

#include <QtEndian>

#include <cmath>

namespace {

template <typename T>
SimReply valueReply(T value)
{
    SimReply reply;
    reply.output.resize(sizeof value);
    qToLittleEndian<T>(value, reply.output.data());
    return reply;
}

// The test signal runs from -60 to -6 dBFS and back every 4 s; neighbouring
// meters are out of phase so that they do not move as one.
qint32 movingLevel(int index, qint64 elapsedMs)
{
    constexpr double kTwoPi = 6.283185307179586;
    const double phase = kTwoPi * (index * 7 % SimDevice::kMeterCount) / SimDevice::kMeterCount;
    const double db = -33.0 + 27.0 * std::sin(kTwoPi * elapsedMs / 4000.0 + phase);
    return static_cast<qint32>(std::lround(2147483647.0 * std::pow(10.0, db / 20.0)));
}

} // namespace

SimDevice::SimDevice()
{
    m_clock.start();
}

SimReply SimDevice::handle(quint32 code, const QByteArray& input, quint32 outputCapacity)
{
    const iocode::Info* info = iocode::find(code);
    if (!info)
        return SimReply::failure(platform::winerror::kInvalidFunction);
    if (input.size() != info->inputLength)
        return SimReply::failure(platform::winerror::kInvalidParameter);
    if (outputCapacity < static_cast<quint32>(info->outputLength))
        return SimReply::failure(platform::winerror::kInsufficientBuffer);
    return apply(code, input);
}

void SimDevice::reset()
{
    DeviceState defaults;
    defaults.pid = m_state.pid;
    defaults.firmware = m_state.firmware;
    m_state = defaults;
}

SimReply SimDevice::apply(quint32 code, const QByteArray& input)
{
    const quint32 word = input.size() == 4 ? qFromLittleEndian<quint32>(input.constData()) : 0;
    switch (code) {
    case iocode::kGetSampleRate:
        return valueReply(m_state.sampleRate);
    case iocode::kSetSampleRate:
        m_state.sampleRate = word;
        break;
    case iocode::kSetMixer:
        m_state.mixer = MixerRecord(input);
        break;
    case iocode::kSetBufferSize:
        m_state.bufferSize = word;
        break;
    case iocode::kGetBufferSize:
        return valueReply(m_state.bufferSize);
    case iocode::kGetUsbBufferSize:
        return valueReply(m_state.usbLatency);
    case iocode::kSetUsbBufferSize:
        m_state.usbLatency = word;
        break;
    case iocode::kGetMeterData:
        return SimReply { true, 0, meterLevels() };
    case iocode::kStopAllAudio:
    case iocode::kAudioInit:
    case iocode::kRestartAudio:
        m_state.audioRunning = code != iocode::kStopAllAudio;
        break;
    case iocode::kGetDevicePid:
        return valueReply(m_state.pid);
    case iocode::kSetWdmNum:
        m_state.wdmCount = word;
        break;
    case iocode::kSetSafeModeOn:
    case iocode::kSetSafeModeOff:
        m_state.safeMode = code == iocode::kSetSafeModeOn;
        break;
    case iocode::kWriteUsbControl:
        return writeUsbControl(input);
    case iocode::kReadUsbControl: {
        SimReply reply { true, 0, QByteArray(ReceivedUsbPacket::kReplySize, '\0') };
        if (ReceivedUsbPacket(input).command() == ReceivedUsbPacket::ReadFirmware)
            reply.output.replace(0, textvalue::kFirmwareSize, m_state.firmware);
        return reply;
    }
    case iocode::kGetWdmNum:
        return valueReply(m_state.wdmCount);
    case iocode::kSetMasterVolume:
        m_state.masterVolume = qFromLittleEndian<quint16>(input.constData());
        break;
    case iocode::kGetMasterVolume:
        return valueReply(m_state.masterVolume);
    case iocode::kSetMasterMute:
        m_state.masterMute = input.at(0) != 0;
        break;
    case iocode::kGetMasterMute:
        return valueReply<quint8>(m_state.masterMute ? 1 : 0);
    }
    return {};
}

SimReply SimDevice::writeUsbControl(const QByteArray& input)
{
    const ReceivedUsbPacket packet(input);
    if (!packet.isValidWrite())
        return SimReply::failure(platform::winerror::kInvalidParameter);
    switch (packet.command()) {
    case ReceivedUsbPacket::OutputVolume:
        m_state.outputVolume[packet.channel()] = packet.value();
        break;
    case ReceivedUsbPacket::MicVolume:
        m_state.micGain[packet.channel()] = packet.value();
        break;
    case ReceivedUsbPacket::Pad:
        m_state.pad[packet.channel()] = packet.switchedOn();
        break;
    case ReceivedUsbPacket::Phantom:
        m_state.phantom[packet.channel()] = packet.switchedOn();
        break;
    case ReceivedUsbPacket::PhoneChipOff:
    case ReceivedUsbPacket::PhoneChipOn:
        m_state.phoneChip = packet.command() == ReceivedUsbPacket::PhoneChipOn;
        break;
    case ReceivedUsbPacket::Instrument:
        m_state.instrument[packet.channel()] = packet.switchedOn();
        break;
    case ReceivedUsbPacket::CloseFeedback:
        m_state.feedbackClosed = true;
        break;
    }
    return {};
}

QByteArray SimDevice::meterLevels() const
{
    const qint64 now = m_clock.elapsed();
    QByteArray bytes(kMeterCount * 4, '\0');
    for (int i = 0; i < kMeterCount; ++i) {
        const qint32 level = meterMoving() ? movingLevel(i, now) : m_fixedMeter.value(i);
        qToLittleEndian<qint32>(level, bytes.data() + 4 * i);
    }
    return bytes;
}
