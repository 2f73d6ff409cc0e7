#include "platform/DeviceIo.h"

#include "platform/WinError.h"
#include "platform/posix/RuntimeDir.h"
#include "platform/posix/SeqPacketSocket.h"
#include "platform/posix/WireFormat.h"

#include <chrono>
#include <cstring>
#include <vector>

namespace platform {

namespace {

// The longest the GUI may wait on one driver call, sending and answer together.
constexpr std::chrono::milliseconds kReplyLimit { 2000 };

int millisecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

IoControlResult failed(std::uint32_t error)
{
    IoControlResult result;
    result.error = error;
    return result;
}

// A connection that lost a reply can no longer pair requests with replies:
// end it so that every later call on it fails too.
IoControlResult broken(int fd, std::uint32_t error)
{
    posix::shutdownSocket(fd);
    IoControlResult result = failed(error);
    result.channelLost = true;
    return result;
}

} // namespace

DeviceHandle openDevice(const std::wstring& path, std::uint32_t& error)
{
    std::string socketPath;
    if (!posix::socketPathFor(path, socketPath, error))
        return kInvalidDeviceHandle;
    const int fd = posix::connectSeqPacket(socketPath, error);
    return fd == posix::kInvalidSocket ? kInvalidDeviceHandle : fd;
}

IoControlResult deviceIoControl(DeviceHandle handle, std::uint32_t code,
                                const void* input, std::uint32_t inputLength,
                                void* output, std::uint32_t outputCapacity)
{
    if (handle == kInvalidDeviceHandle)
        return failed(winerror::kInvalidHandle);
    const int fd = static_cast<int>(handle);

    const auto deadline = std::chrono::steady_clock::now() + kReplyLimit;
    const std::vector<unsigned char> request =
        posix::encodeRequest({ code, inputLength, outputCapacity }, input);
    std::uint32_t error = 0;
    if (!posix::sendMessage(fd, request.data(), request.size(), millisecondsUntil(deadline), error))
        return broken(fd, error == winerror::kSemTimeout ? error : winerror::kDeviceNotConnected);

    std::vector<unsigned char> reply(posix::kWireHeaderSize + outputCapacity);
    posix::ReceivedMessage message;
    if (!posix::receiveMessage(fd, reply.data(), reply.size(), millisecondsUntil(deadline), message, error))
        return broken(fd, error == winerror::kSemTimeout ? error : winerror::kDeviceNotConnected);

    posix::ReplyHeader header;
    if (message.truncated || !posix::decodeReply(reply.data(), message.length, outputCapacity, header))
        return broken(fd, winerror::kDeviceNotConnected);

    if (header.bytesReturned > 0 && output)
        std::memcpy(output, reply.data() + posix::kWireHeaderSize, header.bytesReturned);

    IoControlResult result;
    result.ok = header.status == 1;
    result.error = result.ok ? 0 : header.error;
    result.bytesReturned = header.bytesReturned;
    return result;
}

void closeDevice(DeviceHandle handle)
{
    if (handle != kInvalidDeviceHandle)
        posix::closeSocket(static_cast<int>(handle));
}

} // namespace platform
