#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>

class QLocalSocket;
class QTimer;

// One connection to the panel's channel: it has kIdleMs to send one request
// line of at most kMaxLineBytes. Silence, garbage or a longer message drops
// it. It gets one reply; a watcher then stays and gets events until it goes.
class RemoteClient : public QObject
{
    Q_OBJECT

public:
    RemoteClient(QLocalSocket* socket, QObject* parent);

    // The reply to its request; the connection ends after it unless the
    // client is kept as a watcher.
    void reply(const QJsonObject& message, bool keep = false);
    void send(const QJsonObject& message);

signals:
    void requestReceived(RemoteClient* client, const QJsonObject& request);

private:
    void bytesArrived();
    void drop();

    QLocalSocket* socket;
    QTimer* idle;
    QByteArray buffer;
    bool answered = false;
};
