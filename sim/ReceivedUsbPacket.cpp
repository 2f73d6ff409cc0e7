#include "sim/ReceivedUsbPacket.h"

#include <QtEndian>

ReceivedUsbPacket::ReceivedUsbPacket(const QByteArray& bytes)
    : m_bytes(bytes)
{
    Q_ASSERT(bytes.size() == kSize);
}

quint16 ReceivedUsbPacket::value() const
{
    return qFromLittleEndian<quint16>(m_bytes.constData() + 5);
}

bool ReceivedUsbPacket::isValidWrite() const
{
    switch (command()) {
    case OutputVolume:
    case MicVolume:
    case Pad:
    case Phantom:
    case PhoneChipOff:
    case PhoneChipOn:
    case Instrument:
    case CloseFeedback:
        return byteAt(0) == 0x01;
    default:
        return false;
    }
}

QString ReceivedUsbPacket::describeWrite() const
{
    const QString state = switchedOn() ? QStringLiteral("on") : QStringLiteral("off");
    switch (command()) {
    case OutputVolume:
        return QStringLiteral("output volume ch %1 = %2").arg(channel()).arg(value());
    case MicVolume:
        return QStringLiteral("mic volume ch %1 = %2").arg(channel()).arg(value());
    case Pad:
        return QStringLiteral("20dB pad ch %1 %2").arg(channel()).arg(state);
    case Phantom:
        return QStringLiteral("48V ch %1 %2").arg(channel()).arg(state);
    case PhoneChipOff:
        return QStringLiteral("phone chip off");
    case PhoneChipOn:
        return QStringLiteral("phone chip on");
    case Instrument:
        return QStringLiteral("instrument ch %1 %2").arg(channel()).arg(state);
    case CloseFeedback:
        return QStringLiteral("close feedback");
    default:
        return QStringLiteral("unknown command 0x%1").arg(command(), 2, 16, QLatin1Char('0'));
    }
}
