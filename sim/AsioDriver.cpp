#include "sim/AsioDriver.h"

#include "platform/NamedPipe.h"
#include "sim/SeqPacketServer.h"

AsioDriver::AsioDriver(QObject* parent)
    : QObject(parent)
    // Anything past the largest message a pipe takes is cut off.
    , m_server(new SeqPacketServer(platform::kPipeBufferBytes, false, this))
{
    connect(m_server, &SeqPacketServer::received, this, [this](quint64, const QByteArray& message) {
        m_lastMessage = message;
        ++m_messages;
        if (message == "1")
            ++m_notices;
        emit messageReceived(message);
    });
}

bool AsioDriver::isServing() const
{
    return m_server->isListening();
}

bool AsioDriver::serve(QString* error)
{
    return m_server->listen(L"\\\\.\\pipe\\KestrumPannelToASIO", error);
}

int AsioDriver::stop()
{
    return static_cast<int>(m_server->close().size());
}

quint32 AsioDriver::send(const QByteArray& message)
{
    std::uint32_t error = 0;
    const platform::PipeHandle pipe = platform::openPipe(L"\\\\.\\pipe\\KestrumASIOToPannel", error);
    if (pipe == platform::kInvalidPipeHandle)
        return error;
    // Closing right after the write is fine: the message stays queued for the panel.
    const bool sent = platform::writePipe(pipe, message.constData(), static_cast<std::uint32_t>(message.size()), error);
    platform::closePipe(pipe);
    if (!sent)
        return error;
    ++m_sent;
    return 0;
}

QJsonObject AsioDriver::toJson() const
{
    return QJsonObject {
        { QStringLiteral("serving"), isServing() },
        { QStringLiteral("notices"), m_notices },
        { QStringLiteral("messages"), m_messages },
        { QStringLiteral("lastMessage"), QString::fromLatin1(m_lastMessage.toHex()) },
        { QStringLiteral("requestsSent"), m_sent },
    };
}
