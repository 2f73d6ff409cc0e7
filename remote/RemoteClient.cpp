#include "remote/RemoteClient.h"

#include "remote/RemoteProtocol.h"

#include <QLocalSocket>
#include <QTimer>

namespace {

// A watcher that does not read its events is dropped rather than buffered without end.
constexpr qint64 kMaxUnsentBytes = 256 * 1024;

} // namespace

RemoteClient::RemoteClient(QLocalSocket* socket, QObject* parent)
    : QObject(parent)
    , socket(socket)
    , idle(new QTimer(this))
{
    socket->setParent(this);
    idle->setSingleShot(true);
    idle->start(RemoteProtocol::kIdleMs);
    connect(idle, &QTimer::timeout, this, &RemoteClient::drop);
    connect(socket, &QLocalSocket::readyRead, this, &RemoteClient::bytesArrived);
    connect(socket, &QLocalSocket::disconnected, this, &QObject::deleteLater);
}

void RemoteClient::bytesArrived()
{
    if (answered) {
        // Nothing more is asked on a connection; what a watcher sends is ignored.
        socket->skip(socket->bytesAvailable());
        return;
    }
    buffer += socket->read(RemoteProtocol::kMaxLineBytes + 1 - buffer.size());
    const qsizetype end = buffer.indexOf('\n');
    if (end < 0) {
        if (buffer.size() > RemoteProtocol::kMaxLineBytes)
            drop();
        return;
    }
    answered = true;
    const std::optional<QJsonObject> request = RemoteProtocol::parse(buffer.left(end));
    buffer.clear();
    if (!request) {
        reply({ { "status", RemoteProtocol::BadRequest }, { "message", "not a request" } });
        return;
    }
    emit requestReceived(this, *request);
}

void RemoteClient::reply(const QJsonObject& message, bool keep)
{
    send(message);
    if (keep) {
        idle->stop();
        return;
    }
    // The timer still runs: a client that does not take its reply is dropped.
    socket->disconnectFromServer();
}

void RemoteClient::send(const QJsonObject& message)
{
    if (socket->bytesToWrite() > kMaxUnsentBytes) {
        drop();
        return;
    }
    socket->write(RemoteProtocol::line(message));
}

void RemoteClient::drop()
{
    socket->abort();
    deleteLater();
}
