#include "sim/DeviceConnection.h"

#include "platform/WinError.h"
#include "platform/posix/SeqPacketSocket.h"
#include "platform/posix/WireFormat.h"
#include "sim/MixerRecord.h"

#include <QSocketNotifier>
#include <QTimer>

#include <utility>

namespace {

// One byte more than the largest request (the mixer record), so that a
// longer message shows up as truncated.
constexpr qsizetype kBufferSize = platform::posix::kWireHeaderSize + MixerRecord::kSize + 1;

// The panel reads every reply at once; a peer that lets its socket fill up
// must not stall the whole sim.
constexpr int kSendLimitMs = 100;

} // namespace

DeviceConnection::DeviceConnection(quint64 id, int fd, QObject* parent)
    : QObject(parent)
    , m_id(id)
    , m_fd(fd)
    , m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, this))
    , m_delay(new QTimer(this))
    , m_buffer(kBufferSize, Qt::Uninitialized)
{
    m_delay->setSingleShot(true);
    connect(m_notifier, &QSocketNotifier::activated, this, &DeviceConnection::onReadable);
    connect(m_delay, &QTimer::timeout, this, &DeviceConnection::onDelayElapsed);
}

DeviceConnection::~DeviceConnection()
{
    m_notifier->setEnabled(false);
    platform::posix::closeSocket(m_fd);
}

void DeviceConnection::onReadable()
{
    platform::posix::ReceivedMessage message;
    std::uint32_t error = 0;
    if (!platform::posix::receiveMessage(m_fd, m_buffer.data(), static_cast<std::size_t>(m_buffer.size()), 0, message, error)) {
        if (error != platform::winerror::kSemTimeout) {
            m_notifier->setEnabled(false);
            emit peerClosed(m_id);
        }
        return;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(m_buffer.constData());
    platform::posix::RequestHeader header;
    if (message.truncated || !platform::posix::decodeRequest(bytes, message.length, header)) {
        replyMalformed(static_cast<qsizetype>(message.length));
        return;
    }
    m_notifier->setEnabled(false);
    const QByteArray input(m_buffer.constData() + platform::posix::kWireHeaderSize, static_cast<qsizetype>(header.inputLength));
    emit requestReceived(m_id, header.code, input, header.outputCapacity);
}

void DeviceConnection::replyMalformed(qsizetype length)
{
    const platform::posix::ReplyHeader header { 0, platform::winerror::kInvalidParameter, 0 };
    const std::vector<unsigned char> reply = platform::posix::encodeReply(header, nullptr);
    emit malformedRequest(m_id, length);
    m_notifier->setEnabled(false);
    send(QByteArray(reinterpret_cast<const char*>(reply.data()), static_cast<qsizetype>(reply.size())));
}

void DeviceConnection::sendReply(const QByteArray& message, int delayMs)
{
    if (delayMs <= 0) {
        send(message);
        return;
    }
    m_delayedReply = message;
    m_delay->start(delayMs);
}

void DeviceConnection::onDelayElapsed()
{
    send(std::exchange(m_delayedReply, QByteArray()));
}

void DeviceConnection::send(const QByteArray& message)
{
    std::uint32_t error = 0;
    if (!platform::posix::sendMessage(m_fd, message.constData(), static_cast<std::size_t>(message.size()), kSendLimitMs, error)) {
        emit peerClosed(m_id);
        return;
    }
    m_notifier->setEnabled(true);
}
