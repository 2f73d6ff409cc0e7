#pragma once

#include <array>
#include <cstdint>

// A vendor USB control request as the driver passes it through to the
// device: 37 bytes, byte 0 always 0x01, byte 1 the command.
class UsbControlPacket
{
public:
    static constexpr std::size_t kSize = 37;

    // A command with no channel and no value (phone chip, feedback, firmware read).
    explicit UsbControlPacket(std::uint8_t command);

    // Volume commands: byte 3 is 0x02, byte 4 the channel, bytes 5-6 the value.
    static UsbControlPacket volume(std::uint8_t command, int channel, int value);
    // Switch commands: the state comes before the channel (byte 3, then byte 4).
    static UsbControlPacket switchState(std::uint8_t command, int channel, int state);

    const unsigned char* data() const { return m_bytes.data(); }
    unsigned char* data() { return m_bytes.data(); }
    static constexpr std::uint32_t size() { return kSize; }

private:
    std::array<unsigned char, kSize> m_bytes {};
};
