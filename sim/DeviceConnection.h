#pragma once

#include <QByteArray>
#include <QObject>

class QSocketNotifier;
class QTimer;

// One open handle on the device: reads a request, hands it on, and reads
// nothing more until its reply has gone out, so replies keep their order
// even when one is held back.
class DeviceConnection : public QObject
{
    Q_OBJECT

public:
    DeviceConnection(quint64 id, int fd, QObject* parent = nullptr);
    ~DeviceConnection() override;

    quint64 id() const { return m_id; }
    // Sends the reply to the request in flight, after delayMs when positive.
    void sendReply(const QByteArray& message, int delayMs);

signals:
    void requestReceived(quint64 id, quint32 code, const QByteArray& input, quint32 outputCapacity);
    // A message that is no request was answered with error 87.
    void malformedRequest(quint64 id, qsizetype length);
    void peerClosed(quint64 id);

private:
    void onReadable();
    void onDelayElapsed();
    void send(const QByteArray& message);
    void replyMalformed(qsizetype length);

    quint64 m_id;
    int m_fd;
    QSocketNotifier* m_notifier;
    QTimer* m_delay;
    QByteArray m_buffer;
    QByteArray m_delayedReply;
};
