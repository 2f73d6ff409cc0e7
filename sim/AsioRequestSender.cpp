#include "sim/AsioRequestSender.h"

#include "platform/posix/SeqPacketSocket.h"
#include "sim/AsioPipe.h"

namespace {

// A panel that stops reading must not stall the sim for longer than a
// driver call may take.
constexpr int kSendLimitMs = 2000;

} // namespace

AsioRequestSender::Result AsioRequestSender::send(const QByteArray& message)
{
    quint32 error = 0;
    const QString path = asiopipe::socketPath(asiopipe::kRequestPipe, &error);
    if (path.isEmpty())
        return { false, error };
    std::uint32_t code = 0;
    const int fd = platform::posix::connectSeqPacket(path.toStdString(), code);
    if (fd == platform::posix::kInvalidSocket)
        return { false, code };
    // Closing right after the send is fine: the message stays queued for the panel.
    const bool sent = platform::posix::sendMessage(fd, message.constData(), static_cast<std::size_t>(message.size()), kSendLimitMs, code);
    platform::posix::closeSocket(fd);
    if (!sent)
        return { false, code };
    ++m_sent;
    return { true, 0 };
}
