#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <string>

class QSocketNotifier;

// A listening SOCK_SEQPACKET socket and the connections taken on it, served
// from the event loop: the device object and the ASIO notice pipe are both
// one of these. It never takes a socket over from another live process, and
// removes its socket file when it stops.
class SeqPacketServer : public QObject
{
    Q_OBJECT

public:
    // A message longer than maxMessage arrives cut off and marked truncated.
    // With inTurn, a connection reads nothing more until its last message
    // was answered, so that replies keep their order even when one is held back.
    SeqPacketServer(qsizetype maxMessage, bool inTurn, QObject* parent = nullptr);
    ~SeqPacketServer() override;

    bool isListening() const { return m_listenFd >= 0; }
    int connectionCount() const { return static_cast<int>(m_connections.size()); }

    // Listens at the socket of a Windows object path such as \\.\KestrumAudioBus0.
    bool listen(const std::wstring& windowsPath, QString* error);
    // Stops listening and drops every connection, returning their numbers.
    QList<quint64> close();
    // Sends message on connection, after delayMs when positive.
    void reply(quint64 connection, const QByteArray& message, int delayMs);

signals:
    void opened(quint64 connection);
    void received(quint64 connection, const QByteArray& message, bool truncated);
    // The peer hung up, or let its socket fill up.
    void closed(quint64 connection);

private:
    void onIncomingConnection();
    void onReadable(quint64 connection);
    void send(quint64 connection, const QByteArray& message);
    void drop(quint64 connection);

    bool m_inTurn;
    QString m_socketPath;
    int m_listenFd = -1;
    QSocketNotifier* m_listenNotifier = nullptr;
    QMap<quint64, std::pair<int, QSocketNotifier*>> m_connections; // fd and its notifier
    quint64 m_nextConnection = 1;
    QByteArray m_buffer;
};
