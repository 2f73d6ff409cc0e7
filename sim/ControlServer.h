#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;

// The answer to one control command.
struct ControlReply {
    bool ok = true;
    QString text;
    bool quit = false; // the sim stops once this reply has gone out; not sent
};

// The sim's control socket. A connection carries one request line, a JSON
// array of strings (the command and its arguments, so spaces survive), and
// one reply line, a JSON object {"ok": bool, "text": string}; then the sim
// hangs up.
class ControlServer : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<ControlReply(const QStringList&)>;

    explicit ControlServer(Handler handler, QObject* parent = nullptr);

    // Listens at path, replacing a stale socket but not a live sim's.
    bool listen(const QString& path, QString* error);

signals:
    void quitRequested();

private:
    void onReadyRead(QLocalSocket* socket);
    void answer(QLocalSocket* socket, const ControlReply& reply);

    QLocalServer* m_server;
    Handler m_handler;
};
