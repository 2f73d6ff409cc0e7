#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Framing of one driver call over the stand-in's device socket. All words
// are unsigned 32-bit little-endian.
//   request: code, inputLength, outputCapacity, input[inputLength]
//   reply:   status (1 TRUE, 0 FALSE), error, bytesReturned, output[bytesReturned]
namespace platform::posix {

constexpr std::size_t kWireHeaderSize = 12;

struct RequestHeader {
    std::uint32_t code = 0;
    std::uint32_t inputLength = 0;
    std::uint32_t outputCapacity = 0;
};

struct ReplyHeader {
    std::uint32_t status = 0;
    std::uint32_t error = 0;
    std::uint32_t bytesReturned = 0;
};

std::vector<unsigned char> encodeRequest(const RequestHeader& header, const void* input);
std::vector<unsigned char> encodeReply(const ReplyHeader& header, const void* output);

// Both decoders check that the message is exactly a header and the bytes it
// announces; a reply may not announce more than outputCapacity bytes.
bool decodeRequest(const unsigned char* message, std::size_t length, RequestHeader& header);
bool decodeReply(const unsigned char* message, std::size_t length, std::uint32_t outputCapacity,
                 ReplyHeader& header);

void putWord(unsigned char* at, std::uint32_t value);
std::uint32_t getWord(const unsigned char* at);

} // namespace platform::posix
