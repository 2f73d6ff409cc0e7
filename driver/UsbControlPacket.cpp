#include "driver/UsbControlPacket.h"

UsbControlPacket::UsbControlPacket(std::uint8_t command)
{
    m_bytes[0] = 0x01;
    m_bytes[1] = command;
}

UsbControlPacket UsbControlPacket::volume(std::uint8_t command, int channel, int value)
{
    UsbControlPacket packet(command);
    const auto level = static_cast<std::uint16_t>(value);
    packet.m_bytes[3] = 0x02;
    packet.m_bytes[4] = static_cast<unsigned char>(channel);
    packet.m_bytes[5] = static_cast<unsigned char>(level & 0xFF);
    packet.m_bytes[6] = static_cast<unsigned char>(level >> 8);
    return packet;
}

UsbControlPacket UsbControlPacket::switchState(std::uint8_t command, int channel, int state)
{
    UsbControlPacket packet(command);
    packet.m_bytes[3] = static_cast<unsigned char>(state);
    packet.m_bytes[4] = static_cast<unsigned char>(channel);
    return packet;
}
