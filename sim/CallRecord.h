#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QString>

#include <deque>

// One entry of the call record: a driver call, a connection opening or
// closing, or a message on one of the ASIO pipes.
struct CallEntry {
    enum class Kind { Call, Open, Close, AsioNotice, AsioRequest };

    explicit CallEntry(Kind kind = Kind::Call, quint64 connection = 0)
        : kind(kind)
        , connection(connection)
    {
    }

    Kind kind;
    quint64 connection;     // Call, Open, Close
    QString reason;         // Close: "client" or "unplug"
    quint32 code = 0;
    QByteArray input;       // Call; AsioNotice: the message received
    quint32 outputCapacity = 0;
    bool ok = true;         // Call, AsioRequest
    quint32 error = 0;
    bool injected = false;
    QByteArray output;      // Call; AsioRequest: the message sent
    quint64 seq = 0;        // set by the record
    qint64 timeUs = 0;      // set by the record: since the sim started
};

// Everything the device received, and the traffic on the ASIO pipes, in
// order. Old entries go once the stored bytes pass a limit, so that a sim
// left running all day with the meters polled does not grow without bound.
class CallRecord
{
public:
    static constexpr qint64 kDefaultByteLimit = 64 * 1024 * 1024;

    explicit CallRecord(qint64 byteLimit = kDefaultByteLimit);

    // Numbers, times and stores entry.
    const CallEntry& add(CallEntry entry);
    void clear();
    QJsonArray toJson() const;

    // One readable line for the terminal.
    static QString describe(const CallEntry& entry);

private:
    static qint64 storedBytes(const CallEntry& entry);

    QElapsedTimer m_clock;
    std::deque<CallEntry> m_entries;
    quint64 m_nextSeq = 1;
    qint64 m_bytes = 0;
    qint64 m_byteLimit;
};
