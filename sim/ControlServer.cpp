#include "sim/ControlServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

// A request line longer than this is refused rather than buffered forever.
// It leaves room for asio-request --hex with its largest message.
constexpr qsizetype kMaxRequestBytes = 256 * 1024;

} // namespace

ControlServer::ControlServer(Handler handler, QObject* parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
    , m_handler(std::move(handler))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        }
    });
}

bool ControlServer::listen(const QString& path, QString* error)
{
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(500)) {
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

void ControlServer::onReadyRead(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequestBytes)
            answer(socket, { false, QStringLiteral("request too long") });
        return;
    }
    const QJsonArray request = QJsonDocument::fromJson(socket->readLine(kMaxRequestBytes + 1)).array();
    QStringList command;
    for (const QJsonValue& value : request)
        command.append(value.toString());
    if (command.isEmpty())
        answer(socket, { false, QStringLiteral("a request is one line holding a JSON array of strings") });
    else
        answer(socket, m_handler(command));
}

void ControlServer::answer(QLocalSocket* socket, const ControlReply& reply)
{
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    // Stop only once the goodbye has reached the client.
    if (reply.quit)
        connect(socket, &QLocalSocket::disconnected, this, &ControlServer::quitRequested);
    const QJsonObject json { { QStringLiteral("ok"), reply.ok }, { QStringLiteral("text"), reply.text } };
    socket->write(QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n');
    socket->disconnectFromServer();
}
