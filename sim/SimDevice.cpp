#include "sim/SimDevice.h"

#include "platform/WinError.h"
#include "sim/Firmware.h"
#include "sim/IoCodes.h"
#include "sim/ReceivedUsbPacket.h"

#include <QtEndian>

namespace {

quint32 wordOf(const QByteArray& input)
{
    return qFromLittleEndian<quint32>(input.constData());
}

SimReply replyWord(quint32 value)
{
    SimReply reply;
    reply.output.resize(4);
    qToLittleEndian<quint32>(value, reply.output.data());
    return reply;
}

SimReply replyHalfWord(quint16 value)
{
    SimReply reply;
    reply.output.resize(2);
    qToLittleEndian<quint16>(value, reply.output.data());
    return reply;
}

SimReply replyByte(bool value)
{
    SimReply reply;
    reply.output = QByteArray(1, value ? '\1' : '\0');
    return reply;
}

} // namespace

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
    switch (code) {
    case iocode::kGetSampleRate:
        return replyWord(m_state.sampleRate);
    case iocode::kSetSampleRate:
        m_state.sampleRate = wordOf(input);
        return {};
    case iocode::kSetMixer:
        m_state.mixer = MixerRecord(input);
        return {};
    case iocode::kSetBufferSize:
        m_state.bufferSize = wordOf(input);
        return {};
    case iocode::kGetBufferSize:
        return replyWord(m_state.bufferSize);
    case iocode::kGetUsbBufferSize:
        return replyWord(m_state.usbLatency);
    case iocode::kSetUsbBufferSize:
        m_state.usbLatency = wordOf(input);
        return {};
    case iocode::kGetMeterData:
        return SimReply { true, 0, m_meter.toBytes() };
    case iocode::kStopAllAudio:
        stopAudio();
        return {};
    case iocode::kAudioInit:
        initAudio();
        return {};
    case iocode::kRestartAudio:
        restartAudio();
        return {};
    case iocode::kGetDevicePid:
        return replyWord(m_state.pid);
    case iocode::kSetWdmNum:
        m_state.wdmCount = wordOf(input);
        return {};
    case iocode::kSetSafeModeOn:
        m_state.safeMode = true;
        return {};
    case iocode::kSetSafeModeOff:
        m_state.safeMode = false;
        return {};
    case iocode::kWriteUsbControl:
        return writeUsbControl(input);
    case iocode::kReadUsbControl:
        return readUsbControl(input);
    case iocode::kGetWdmNum:
        return replyWord(m_state.wdmCount);
    case iocode::kSetMasterVolume:
        m_state.masterVolume = qFromLittleEndian<quint16>(input.constData());
        return {};
    case iocode::kGetMasterVolume:
        return replyHalfWord(m_state.masterVolume);
    case iocode::kSetMasterMute:
        m_state.masterMute = input.at(0) != 0;
        return {};
    case iocode::kGetMasterMute:
        return replyByte(m_state.masterMute);
    default:
        return SimReply::failure(platform::winerror::kInvalidFunction);
    }
}

void SimDevice::stopAudio()
{
    m_state.audioRunning = false;
    ++m_state.audioStops;
}

void SimDevice::initAudio()
{
    m_state.audioRunning = true;
    ++m_state.audioInits;
}

void SimDevice::restartAudio()
{
    m_state.audioRunning = true;
    ++m_state.audioRestarts;
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
        m_state.phoneChip = false;
        break;
    case ReceivedUsbPacket::PhoneChipOn:
        m_state.phoneChip = true;
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

SimReply SimDevice::readUsbControl(const QByteArray& input) const
{
    SimReply reply;
    reply.output = QByteArray(ReceivedUsbPacket::kReplySize, '\0');
    if (ReceivedUsbPacket(input).command() == ReceivedUsbPacket::ReadFirmware)
        reply.output.replace(0, firmware::kSize, m_state.firmware);
    return reply;
}
