#pragma once

#include <QByteArray>

// The device's answer to one call: status TRUE/FALSE, the Windows error
// number when FALSE, and the output bytes.
struct SimReply {
    bool ok = true;
    quint32 error = 0;
    QByteArray output;

    static SimReply failure(quint32 error) { return SimReply { false, error, {} }; }
};
