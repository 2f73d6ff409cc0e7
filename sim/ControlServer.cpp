#include "sim/ControlServer.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace {

// How long a check for a live sim on the control path may take.
constexpr int kProbeMs = 500;

bool someoneAnswersAt(const QString& path)
{
    QLocalSocket probe;
    probe.connectToServer(path);
    return probe.waitForConnected(kProbeMs);
}

} // namespace

ControlServer::ControlServer(Handler handler, QObject* parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
    , m_handler(std::move(handler))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &ControlServer::onNewConnection);
}

bool ControlServer::listen(const QString& path, QString* error)
{
    if (someoneAnswersAt(path)) {
        *error = QStringLiteral("another sim already answers at %1; give this one --control PATH").arg(path);
        return false;
    }
    QLocalServer::removeServer(path);
    if (!m_server->listen(path)) {
        *error = QStringLiteral("cannot listen at %1: %2").arg(path, m_server->errorString());
        return false;
    }
    return true;
}

void ControlServer::onNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    }
}

void ControlServer::onReadyRead(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > controlprotocol::kMaxRequestBytes)
            answer(socket, controlprotocol::Reply::failure(QStringLiteral("request too long")));
        return;
    }
    const QByteArray line = socket->readLine(controlprotocol::kMaxRequestBytes + 1);
    QString error;
    const std::optional<QStringList> command = controlprotocol::decodeRequest(line, &error);
    answer(socket, command ? m_handler(*command) : controlprotocol::Reply::failure(error));
}

void ControlServer::answer(QLocalSocket* socket, const controlprotocol::Reply& reply)
{
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    // Stop only once the goodbye has reached the client.
    if (reply.quit)
        connect(socket, &QLocalSocket::disconnected, this, &ControlServer::quitRequested);
    socket->write(controlprotocol::encodeReply(reply));
    socket->disconnectFromServer();
}
