#include "sim/DeviceServer.h"

#include "platform/WinError.h"
#include "platform/posix/WireFormat.h"
#include "sim/MixerRecord.h"
#include "sim/SeqPacketServer.h"
#include "sim/SimDevice.h"

DeviceServer::DeviceServer(int bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    // The largest request carries the mixer record.
    , m_server(new SeqPacketServer(platform::posix::kWireHeaderSize + MixerRecord::kSize, true, this))
{
    connect(m_server, &SeqPacketServer::opened, this, &DeviceServer::connectionOpened);
    connect(m_server, &SeqPacketServer::closed, this, [this](quint64 connection) { emit connectionClosed(connection, QStringLiteral("client")); });
    connect(m_server, &SeqPacketServer::received, this, &DeviceServer::onReceived);
}

bool DeviceServer::isPlugged() const
{
    return m_server->isListening();
}

int DeviceServer::connectionCount() const
{
    return m_server->connectionCount();
}

bool DeviceServer::plug(QString* error)
{
    return m_server->listen(QStringLiteral("\\\\.\\KestrumAudioBus%1").arg(m_bus).toStdWString(), error);
}

void DeviceServer::unplug()
{
    for (const quint64 connection : m_server->close())
        emit connectionClosed(connection, QStringLiteral("unplug"));
}

void DeviceServer::onReceived(quint64 connection, const QByteArray& message, bool truncated)
{
    platform::posix::RequestHeader header;
    if (truncated || !platform::posix::decodeRequest(reinterpret_cast<const unsigned char*>(message.constData()), static_cast<std::size_t>(message.size()), header)) {
        // No request at all: refused before the driver sees it.
        reply(connection, SimReply::failure(platform::winerror::kInvalidParameter), 0);
        return;
    }
    emit requestReceived(connection, header.code, message.mid(platform::posix::kWireHeaderSize), header.outputCapacity);
}

void DeviceServer::reply(quint64 connection, const SimReply& reply, int delayMs)
{
    const platform::posix::ReplyHeader header { reply.ok ? 1u : 0u, reply.error, static_cast<std::uint32_t>(reply.output.size()) };
    const std::vector<unsigned char> message = platform::posix::encodeReply(header, reply.output.constData());
    m_server->reply(connection, QByteArray(reinterpret_cast<const char*>(message.data()), static_cast<qsizetype>(message.size())), delayMs);
}
