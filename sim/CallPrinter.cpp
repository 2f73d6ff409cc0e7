#include "sim/CallPrinter.h"

#include "sim/AsioMessage.h"
#include "sim/Firmware.h"
#include "sim/IoCodes.h"
#include "sim/MeterLevels.h"
#include "sim/ReceivedUsbPacket.h"

#include <QtEndian>

namespace {

QString word(const QByteArray& bytes)
{
    return QString::number(qFromLittleEndian<quint32>(bytes.constData()));
}

QString halfWord(const QByteArray& bytes)
{
    return QString::number(qFromLittleEndian<quint16>(bytes.constData()));
}

} // namespace

QString CallPrinter::describe(const CallEntry& entry, const MixerRecord& mixerBefore)
{
    switch (entry.kind) {
    case CallEntry::Kind::Open:
        return QStringLiteral("#%1 conn %2 open (bus %3)").arg(entry.seq).arg(entry.connection).arg(entry.bus);
    case CallEntry::Kind::Close:
        return QStringLiteral("#%1 conn %2 closed (%3)").arg(entry.seq).arg(entry.connection).arg(entry.reason);
    case CallEntry::Kind::AsioNotice:
        return describeAsioNotice(entry);
    case CallEntry::Kind::AsioRequest:
        return describeAsioRequest(entry);
    case CallEntry::Kind::Call:
        break;
    }
    return describeCall(entry, mixerBefore);
}

QString CallPrinter::describeAsioNotice(const CallEntry& entry)
{
    if (asiomessage::isResetNotice(entry.input))
        return QStringLiteral("#%1 asio reset notice received").arg(entry.seq);
    return QStringLiteral("#%1 asio pipe message received, no reset notice: %2").arg(entry.seq).arg(asiomessage::describe(entry.input));
}

QString CallPrinter::describeAsioRequest(const CallEntry& entry)
{
    return QStringLiteral("#%1 asio request of %2 -> %3")
        .arg(entry.seq)
        .arg(asiomessage::describe(entry.output), entry.ok ? QStringLiteral("ok") : QStringLiteral("failed, error %1").arg(entry.error));
}

QString CallPrinter::describeCall(const CallEntry& entry, const MixerRecord& mixerBefore)
{
    return QStringLiteral("#%1 conn %2 %3%4 -> %5")
        .arg(entry.seq)
        .arg(entry.connection)
        .arg(iocode::name(entry.code), describeInput(entry, mixerBefore), describeResult(entry));
}

QString CallPrinter::describeInput(const CallEntry& entry, const MixerRecord& mixerBefore)
{
    const iocode::Info* info = iocode::find(entry.code);
    if (!info || entry.input.size() != info->inputLength)
        return entry.input.isEmpty() ? QString() : QStringLiteral(" (%1 input bytes)").arg(entry.input.size());
    switch (entry.code) {
    case iocode::kSetSampleRate:
    case iocode::kSetBufferSize:
    case iocode::kSetUsbBufferSize:
    case iocode::kSetWdmNum:
        return QLatin1Char(' ') + word(entry.input);
    case iocode::kSetMasterVolume:
        return QLatin1Char(' ') + halfWord(entry.input);
    case iocode::kSetMasterMute:
        return entry.input.at(0) != 0 ? QStringLiteral(" on") : QStringLiteral(" off");
    case iocode::kWriteUsbControl:
        return QLatin1Char(' ') + ReceivedUsbPacket(entry.input).describeWrite();
    case iocode::kReadUsbControl:
        return QLatin1Char(' ') + ReceivedUsbPacket(entry.input).describeRead();
    case iocode::kSetMixer:
        return QStringLiteral(": ") + MixerRecord(entry.input).describeChangesFrom(mixerBefore);
    default:
        return QString();
    }
}

QString CallPrinter::describeOutput(const CallEntry& entry)
{
    switch (entry.code) {
    case iocode::kGetSampleRate:
    case iocode::kGetBufferSize:
    case iocode::kGetUsbBufferSize:
    case iocode::kGetDevicePid:
    case iocode::kGetWdmNum:
        return QLatin1Char(' ') + word(entry.output);
    case iocode::kGetMasterVolume:
        return QLatin1Char(' ') + halfWord(entry.output);
    case iocode::kGetMasterMute:
        return QLatin1Char(' ') + QString::number(entry.output.at(0));
    case iocode::kGetMeterData:
        return QStringLiteral(" %1 levels").arg(MeterLevels::kCount);
    case iocode::kReadUsbControl:
        if (ReceivedUsbPacket(entry.input).command() == ReceivedUsbPacket::ReadFirmware)
            return QStringLiteral(" \"%1\"").arg(firmware::display(entry.output.left(firmware::kSize)));
        return QString();
    default:
        return QString();
    }
}

QString CallPrinter::describeResult(const CallEntry& entry)
{
    if (!entry.ok)
        return QStringLiteral("refused, error %1%2").arg(entry.error).arg(entry.injected ? QStringLiteral(" (injected)") : QString());
    return QStringLiteral("ok") + describeOutput(entry);
}
