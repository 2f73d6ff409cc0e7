#pragma once

#include <QByteArray>
#include <QtGlobal>

// The ASIO driver's side of \\.\pipe\KestrumASIOToPannel: one connection per
// request, one message on it, then the connection is closed.
class AsioRequestSender
{
public:
    struct Result {
        bool ok = false;
        quint32 error = 0; // Windows error number when not ok
    };

    Result send(const QByteArray& message);
    int sentCount() const { return m_sent; }

private:
    int m_sent = 0;
};
