#pragma once

#include "platform/NamedPipe.h"

#include <QByteArray>
#include <QString>

// The two pipes to the ASIO driver are opened here alone. An object is one
// server-side instance of a message-mode named pipe that exchanges one
// message per client connection: wait for the client, read or write, drop it.
class PipeASIO
{
public:
    // The most a read takes from one message; the caller's buffer holds this.
    static constexpr int kMessageCapacity = 1024;

    // An instance of the pipe on which the ASIO driver asks for the settings window.
    static PipeASIO* forRequests();
    // Tells the ASIO driver to reset, as a client of the pipe it serves.
    static void sendResetNotice();

    explicit PipeASIO(const QString& name);
    ~PipeASIO();
    PipeASIO(const PipeASIO&) = delete;
    PipeASIO& operator=(const PipeASIO&) = delete;

    bool createPipe();
    // Waits for a client and copies its message into buffer. False when no
    // message came (nothing is copied then).
    bool read(char* buffer);
    // The two halves of read: the wait for a client, then its message.
    bool waitForClient();
    bool receive(char* buffer);
    bool write(const QByteArray& data);
    void close();
    // Releases a read or write waiting in another thread, now and from then
    // on; used to stop the listener.
    void releaseWaits();

private:
    QString pipeName;
    platform::PipeHandle pipeHandle = platform::kInvalidPipeHandle;
};
