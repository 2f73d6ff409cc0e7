#include "platform/posix/WireFormat.h"

#include <cstring>

namespace platform::posix {

void putWord(unsigned char* at, std::uint32_t value)
{
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
    at[2] = static_cast<unsigned char>(value >> 16);
    at[3] = static_cast<unsigned char>(value >> 24);
}

std::uint32_t getWord(const unsigned char* at)
{
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8
        | static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

namespace {

std::vector<unsigned char> encode(std::uint32_t a, std::uint32_t b, std::uint32_t c,
                                  const void* body, std::uint32_t length)
{
    std::vector<unsigned char> message(kWireHeaderSize + length);
    putWord(message.data(), a);
    putWord(message.data() + 4, b);
    putWord(message.data() + 8, c);
    if (length > 0 && body)
        std::memcpy(message.data() + kWireHeaderSize, body, length);
    return message;
}

} // namespace

std::vector<unsigned char> encodeRequest(const RequestHeader& header, const void* input)
{
    return encode(header.code, header.inputLength, header.outputCapacity, input, header.inputLength);
}

std::vector<unsigned char> encodeReply(const ReplyHeader& header, const void* output)
{
    return encode(header.status, header.error, header.bytesReturned, output, header.bytesReturned);
}

bool decodeRequest(const unsigned char* message, std::size_t length, RequestHeader& header)
{
    if (length < kWireHeaderSize)
        return false;
    header.code = getWord(message);
    header.inputLength = getWord(message + 4);
    header.outputCapacity = getWord(message + 8);
    return length - kWireHeaderSize == header.inputLength;
}

bool decodeReply(const unsigned char* message, std::size_t length, std::uint32_t outputCapacity,
                 ReplyHeader& header)
{
    if (length < kWireHeaderSize)
        return false;
    header.status = getWord(message);
    header.error = getWord(message + 4);
    header.bytesReturned = getWord(message + 8);
    return header.status <= 1 && header.bytesReturned <= outputCapacity
        && length - kWireHeaderSize == header.bytesReturned;
}

} // namespace platform::posix
