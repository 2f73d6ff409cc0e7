#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>

class SeqPacketServer;

// The ASIO driver's ends of its two pipes. It serves
// \\.\pipe\KestrumPannelToASIO, where the panel sends its one-byte reset
// notice: any number of connections, every message counted. And it sends
// requests to the panel's \\.\pipe\KestrumASIOToPannel, one connection per
// message.
class AsioDriver : public QObject
{
    Q_OBJECT

public:
    explicit AsioDriver(QObject* parent = nullptr);

    bool isServing() const;
    // Refuses when another process already serves the pipe.
    bool serve(QString* error);
    // Removes the pipe and drops every connection, returning how many.
    int stop();

    // Sends one message to the panel: 0, or the Windows error number.
    quint32 send(const QByteArray& message);

    // {"serving", "notices", "messages", "lastMessage" (hex), "requestsSent"}
    QJsonObject toJson() const;

signals:
    void messageReceived(const QByteArray& message);

private:
    SeqPacketServer* m_server;
    int m_notices = 0;
    int m_messages = 0;
    int m_sent = 0;
    QByteArray m_lastMessage;
};
