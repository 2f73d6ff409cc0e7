#pragma once

#include <QByteArray>
#include <QString>

// One line of the call record: a driver call, or a connection opening or closing.
struct CallEntry {
    enum class Kind { Call, Open, Close };

    Kind kind = Kind::Call;
    quint64 seq = 0;
    qint64 timeUs = 0;
    quint64 connection = 0;

    int bus = 0;        // Open
    QString reason;     // Close: "client" or "unplug"

    quint32 code = 0;   // Call
    QByteArray input;
    quint32 outputCapacity = 0;
    bool ok = false;
    quint32 error = 0;
    bool injected = false;
    QByteArray output;
};
