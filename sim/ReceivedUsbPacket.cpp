#include "sim/ReceivedUsbPacket.h"

#include <QtEndian>

ReceivedUsbPacket::ReceivedUsbPacket(const QByteArray& bytes)
    : m_bytes(bytes)
{
    Q_ASSERT(bytes.size() == kSize);
}

quint8 ReceivedUsbPacket::byteAt(int index) const
{
    return static_cast<quint8>(m_bytes.at(index));
}

quint8 ReceivedUsbPacket::marker() const
{
    return byteAt(0);
}

quint8 ReceivedUsbPacket::command() const
{
    return byteAt(1);
}

bool ReceivedUsbPacket::switchedOn() const
{
    return byteAt(3) != 0;
}

int ReceivedUsbPacket::channel() const
{
    return byteAt(4);
}

quint16 ReceivedUsbPacket::value() const
{
    return qFromLittleEndian<quint16>(m_bytes.constData() + 5);
}

bool ReceivedUsbPacket::isValidWrite() const
{
    if (marker() != kMarker)
        return false;
    switch (command()) {
    case OutputVolume:
    case MicVolume:
    case Pad:
    case Phantom:
    case PhoneChipOff:
    case PhoneChipOn:
    case Instrument:
    case CloseFeedback:
        return true;
    default:
        return false;
    }
}

QString ReceivedUsbPacket::onOff() const
{
    return switchedOn() ? QStringLiteral("on") : QStringLiteral("off");
}

QString ReceivedUsbPacket::describeWrite() const
{
    if (marker() != kMarker)
        return QStringLiteral("bad marker 0x%1").arg(marker(), 2, 16, QLatin1Char('0'));
    switch (command()) {
    case OutputVolume:
        return QStringLiteral("output volume ch %1 = %2").arg(channel()).arg(value());
    case MicVolume:
        return QStringLiteral("mic volume ch %1 = %2").arg(channel()).arg(value());
    case Pad:
        return QStringLiteral("20dB pad ch %1 %2").arg(channel()).arg(onOff());
    case Phantom:
        return QStringLiteral("48V ch %1 %2").arg(channel()).arg(onOff());
    case PhoneChipOff:
        return QStringLiteral("phone chip off");
    case PhoneChipOn:
        return QStringLiteral("phone chip on");
    case Instrument:
        return QStringLiteral("instrument ch %1 %2").arg(channel()).arg(onOff());
    case CloseFeedback:
        return QStringLiteral("close feedback");
    default:
        return QStringLiteral("unknown command 0x%1").arg(command(), 2, 16, QLatin1Char('0'));
    }
}

QString ReceivedUsbPacket::describeRead() const
{
    if (command() == ReadFirmware)
        return QStringLiteral("read firmware");
    return QStringLiteral("read command 0x%1").arg(command(), 2, 16, QLatin1Char('0'));
}
