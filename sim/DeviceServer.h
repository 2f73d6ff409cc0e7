#pragma once

#include <QObject>
#include <QString>

class SeqPacketServer;
struct SimReply;

// The device object of one bus: a socket that the panel opens as
// \\.\KestrumAudioBusN, carrying one request and one reply per call.
// Unplugging drops every connection and removes the socket, as pulling the
// USB cable would.
class DeviceServer : public QObject
{
    Q_OBJECT

public:
    explicit DeviceServer(int bus, QObject* parent = nullptr);

    int bus() const { return m_bus; }
    bool isPlugged() const;
    int connectionCount() const;

    // Refuses when another sim already serves the bus.
    bool plug(QString* error);
    void unplug();

    // Answers the request in flight on connection, after delayMs when positive.
    void reply(quint64 connection, const SimReply& reply, int delayMs);

signals:
    void connectionOpened(quint64 connection);
    void connectionClosed(quint64 connection, const QString& reason);
    void requestReceived(quint64 connection, quint32 code, const QByteArray& input, quint32 outputCapacity);

private:
    void onReceived(quint64 connection, const QByteArray& message, bool truncated);

    int m_bus;
    SeqPacketServer* m_server;
};
