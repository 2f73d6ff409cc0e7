#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// A listening SOCK_SEQPACKET socket served from the event loop: the device
// objects and the ASIO notice pipe are both one of these. It never takes a
// socket over from another live process, and removes its socket file when
// it stops.
class SeqPacketListener : public QObject
{
    Q_OBJECT

public:
    explicit SeqPacketListener(QObject* parent = nullptr);
    ~SeqPacketListener() override;

    bool isListening() const { return m_listenFd >= 0; }

    // Listens at socketPath; what names the served object in the error.
    bool listen(const QString& socketPath, const QString& what, QString* error);
    void close();

signals:
    // A client connected; the receiver owns fd.
    void accepted(int fd);

private:
    void onIncomingConnection();

    QString m_socketPath;
    int m_listenFd = -1;
    QSocketNotifier* m_notifier = nullptr;
};
