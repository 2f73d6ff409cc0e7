#pragma once

#include <QByteArray>
#include <QString>

// A 37-byte USB control packet as the device receives it from the panel:
// byte 0 marker 0x01, byte 1 command, byte 3 switch state (or 0x02 for a
// volume), byte 4 channel, bytes 5-6 volume value, little-endian.
class ReceivedUsbPacket
{
public:
    static constexpr int kSize = 37;
    static constexpr int kReplySize = 32;

    enum Command : quint8 {
        OutputVolume = 0x03,
        MicVolume = 0x07,
        Pad = 0x5A,
        Phantom = 0x5B,
        PhoneChipOff = 0x5E,
        PhoneChipOn = 0x5F,
        Instrument = 0x64,
        ReadFirmware = 0x65,
        CloseFeedback = 0x68,
    };

    // bytes must hold kSize bytes.
    explicit ReceivedUsbPacket(const QByteArray& bytes);

    quint8 command() const { return byteAt(1); }
    bool switchedOn() const { return byteAt(3) != 0; }
    int channel() const { return byteAt(4); }
    quint16 value() const;

    // Whether a write of this packet is one the device understands.
    bool isValidWrite() const;
    // "mic volume ch 1 = 112", "48V ch 2 on", ...
    QString describeWrite() const;

private:
    quint8 byteAt(int index) const { return static_cast<quint8>(m_bytes.at(index)); }

    QByteArray m_bytes;
};
