#pragma once

#include "sim/SimReply.h"

#include <QMap>
#include <QObject>
#include <QString>

class DeviceConnection;
class SeqPacketListener;

// The device object of one bus: a listening socket that the panel opens as
// \\.\KestrumAudioBusN, and the connections opened on it. Unplugging drops
// them all and removes the socket, as pulling the USB cable would.
class DeviceServer : public QObject
{
    Q_OBJECT

public:
    explicit DeviceServer(int bus, QObject* parent = nullptr);
    ~DeviceServer() override;

    int bus() const { return m_bus; }
    QString socketPath() const { return m_socketPath; }
    bool isPlugged() const;
    int connectionCount() const { return static_cast<int>(m_connections.size()); }

    // Starts listening. Refuses when another sim already serves the bus.
    bool plug(QString* error);
    void unplug();

    // Answers the request in flight on connection, after delayMs when positive.
    void reply(quint64 connection, const SimReply& reply, int delayMs);

signals:
    void connectionOpened(quint64 connection);
    void connectionClosed(quint64 connection, const QString& reason);
    void requestReceived(quint64 connection, quint32 code, const QByteArray& input, quint32 outputCapacity);
    void malformedRequest(quint64 connection, qsizetype length);

private:
    void onIncomingConnection(int fd);
    void onPeerClosed(quint64 connection);
    bool resolveSocketPath(QString* error);

    int m_bus;
    QString m_socketPath;
    SeqPacketListener* m_listener;
    QMap<quint64, DeviceConnection*> m_connections;
    quint64 m_nextConnection = 1;
};
