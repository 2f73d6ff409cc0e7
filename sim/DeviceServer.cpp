#include "sim/DeviceServer.h"

#include "platform/posix/RuntimeDir.h"
#include "platform/posix/WireFormat.h"
#include "sim/DeviceConnection.h"
#include "sim/SeqPacketListener.h"

DeviceServer::DeviceServer(int bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_listener(new SeqPacketListener(this))
{
    connect(m_listener, &SeqPacketListener::accepted, this, &DeviceServer::onIncomingConnection);
}

// Quiet teardown: whoever listens to the signals may be going away too.
DeviceServer::~DeviceServer()
{
    qDeleteAll(m_connections);
    m_connections.clear();
    m_listener->close();
}

bool DeviceServer::resolveSocketPath(QString* error)
{
    const std::wstring devicePath = QStringLiteral("\\\\.\\KestrumAudioBus%1").arg(m_bus).toStdWString();
    std::string path;
    std::uint32_t code = 0;
    if (!platform::posix::socketPathFor(devicePath, path, code)) {
        *error = QStringLiteral("cannot place the socket of bus %1 (error %2): check $XDG_RUNTIME_DIR").arg(m_bus).arg(code);
        return false;
    }
    m_socketPath = QString::fromStdString(path);
    return true;
}

bool DeviceServer::isPlugged() const
{
    return m_listener->isListening();
}

bool DeviceServer::plug(QString* error)
{
    if (isPlugged())
        return true;
    if (m_socketPath.isEmpty() && !resolveSocketPath(error))
        return false;
    return m_listener->listen(m_socketPath, QStringLiteral("bus %1").arg(m_bus), error);
}

void DeviceServer::unplug()
{
    m_listener->close();
    const QMap<quint64, DeviceConnection*> dropped = std::exchange(m_connections, {});
    for (auto it = dropped.cbegin(); it != dropped.cend(); ++it) {
        delete it.value();
        emit connectionClosed(it.key(), QStringLiteral("unplug"));
    }
}

void DeviceServer::onIncomingConnection(int fd)
{
    const quint64 id = m_nextConnection++;
    auto* connection = new DeviceConnection(id, fd, this);
    connect(connection, &DeviceConnection::requestReceived, this, &DeviceServer::requestReceived);
    connect(connection, &DeviceConnection::malformedRequest, this, &DeviceServer::malformedRequest);
    connect(connection, &DeviceConnection::peerClosed, this, &DeviceServer::onPeerClosed);
    m_connections.insert(id, connection);
    emit connectionOpened(id);
}

void DeviceServer::onPeerClosed(quint64 connection)
{
    DeviceConnection* closed = m_connections.take(connection);
    if (!closed)
        return;
    // The connection is still on the call stack that noticed the close.
    closed->deleteLater();
    emit connectionClosed(connection, QStringLiteral("client"));
}

void DeviceServer::reply(quint64 connection, const SimReply& reply, int delayMs)
{
    DeviceConnection* target = m_connections.value(connection);
    if (!target)
        return;
    const platform::posix::ReplyHeader header { reply.ok ? 1u : 0u, reply.error, static_cast<std::uint32_t>(reply.output.size()) };
    const std::vector<unsigned char> message = platform::posix::encodeReply(header, reply.output.constData());
    target->sendReply(QByteArray(reinterpret_cast<const char*>(message.data()), static_cast<qsizetype>(message.size())), delayMs);
}
