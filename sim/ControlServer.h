#pragma once

#include "sim/ControlProtocol.h"

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;
class QLocalSocket;

// The sim's control socket: one command per connection, answered by the
// handler, then the connection is closed.
class ControlServer : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<controlprotocol::Reply(const QStringList&)>;

    explicit ControlServer(Handler handler, QObject* parent = nullptr);

    // Listens at path, replacing a stale socket but not a live sim's.
    bool listen(const QString& path, QString* error);

signals:
    void quitRequested();

private:
    void onNewConnection();
    void onReadyRead(QLocalSocket* socket);
    void answer(QLocalSocket* socket, const controlprotocol::Reply& reply);

    QLocalServer* m_server;
    Handler m_handler;
};
