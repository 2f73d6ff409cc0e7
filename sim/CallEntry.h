#pragma once

#include <QByteArray>
#include <QString>

// One line of the call record: a driver call, a connection opening or
// closing, or a message on one of the ASIO pipes.
struct CallEntry {
    enum class Kind { Call, Open, Close, AsioNotice, AsioRequest };

    Kind kind = Kind::Call;
    quint64 seq = 0;
    qint64 timeUs = 0;
    quint64 connection = 0;

    int bus = 0;        // Open
    QString reason;     // Close: "client" or "unplug"

    quint32 code = 0;   // Call
    QByteArray input;   // Call, and AsioNotice: the message received
    quint32 outputCapacity = 0;
    bool ok = false;    // Call, AsioRequest
    quint32 error = 0;  // Call, AsioRequest
    bool injected = false;
    QByteArray output;  // Call, and AsioRequest: the message sent
};
