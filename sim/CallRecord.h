#pragma once

#include "sim/CallEntry.h"
#include "sim/SimReply.h"

#include <QElapsedTimer>
#include <QJsonArray>

#include <deque>

// Everything the device received, and the traffic on the ASIO pipes, in
// order, timed from the start of the sim.
// Old entries go once the stored bytes pass a limit, so that a sim left
// running all day with the meters polled does not grow without bound.
class CallRecord
{
public:
    static constexpr qint64 kDefaultByteLimit = 64 * 1024 * 1024;

    explicit CallRecord(qint64 byteLimit = kDefaultByteLimit);

    const CallEntry& addCall(quint64 connection, quint32 code, const QByteArray& input,
                             quint32 outputCapacity, const SimReply& reply, bool injected);
    const CallEntry& addOpen(quint64 connection, int bus);
    const CallEntry& addClose(quint64 connection, const QString& reason);
    const CallEntry& addAsioNotice(const QByteArray& message);
    const CallEntry& addAsioRequest(const QByteArray& message, bool ok, quint32 error);

    void clear();
    QJsonArray toJson() const;

private:
    const CallEntry& append(CallEntry entry);
    static qint64 storedBytes(const CallEntry& entry);

    QElapsedTimer m_clock;
    std::deque<CallEntry> m_entries;
    quint64 m_nextSeq = 1;
    qint64 m_bytes = 0;
    qint64 m_byteLimit;
};
