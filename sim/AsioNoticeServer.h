#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class QSocketNotifier;
class SeqPacketListener;

// The ASIO driver's end of \\.\pipe\KestrumPannelToASIO: takes any number of
// connections and reports every message that arrives on them, counting the
// panel's reset notices among them.
class AsioNoticeServer : public QObject
{
    Q_OBJECT

public:
    explicit AsioNoticeServer(QObject* parent = nullptr);
    ~AsioNoticeServer() override;

    QString socketPath() const { return m_socketPath; }
    bool isServing() const;
    int connectionCount() const { return static_cast<int>(m_connections.size()); }
    int notices() const { return m_notices; }
    int messages() const { return m_messages; }
    QByteArray lastMessage() const { return m_lastMessage; }

    // Starts serving. Refuses when another process already serves the pipe.
    bool serve(QString* error);
    // Stops serving: removes the pipe and drops every connection, returning
    // how many were dropped.
    int stop();

signals:
    void messageReceived(const QByteArray& message);

private:
    void onIncomingConnection(int fd);
    void onReadable(int fd);
    void dropConnection(int fd);
    bool resolveSocketPath(QString* error);

    QString m_socketPath;
    SeqPacketListener* m_listener;
    QHash<int, QSocketNotifier*> m_connections;
    QByteArray m_buffer;
    int m_notices = 0;
    int m_messages = 0;
    QByteArray m_lastMessage;
};
