#include "sim/CallRecord.h"

#include "sim/IoCodes.h"

#include <QJsonObject>

namespace {

QJsonObject entryToJson(const CallEntry& entry)
{
    QJsonObject json {
        { QStringLiteral("seq"), static_cast<qint64>(entry.seq) },
        { QStringLiteral("timeUs"), entry.timeUs },
    };
    // Pipe connections are not device connections: their messages carry no number.
    if (entry.kind != CallEntry::Kind::AsioNotice && entry.kind != CallEntry::Kind::AsioRequest)
        json.insert(QStringLiteral("conn"), static_cast<qint64>(entry.connection));
    switch (entry.kind) {
    case CallEntry::Kind::AsioNotice:
        json.insert(QStringLiteral("kind"), QStringLiteral("asioNotice"));
        json.insert(QStringLiteral("in"), QString::fromLatin1(entry.input.toHex()));
        break;
    case CallEntry::Kind::AsioRequest:
        json.insert(QStringLiteral("kind"), QStringLiteral("asioRequest"));
        json.insert(QStringLiteral("out"), QString::fromLatin1(entry.output.toHex()));
        json.insert(QStringLiteral("status"), entry.ok ? 1 : 0);
        json.insert(QStringLiteral("error"), static_cast<qint64>(entry.error));
        break;
    case CallEntry::Kind::Open:
        json.insert(QStringLiteral("kind"), QStringLiteral("open"));
        json.insert(QStringLiteral("bus"), entry.bus);
        break;
    case CallEntry::Kind::Close:
        json.insert(QStringLiteral("kind"), QStringLiteral("close"));
        json.insert(QStringLiteral("reason"), entry.reason);
        break;
    case CallEntry::Kind::Call:
        json.insert(QStringLiteral("kind"), QStringLiteral("call"));
        json.insert(QStringLiteral("code"), static_cast<qint64>(entry.code));
        json.insert(QStringLiteral("name"), iocode::name(entry.code));
        json.insert(QStringLiteral("in"), QString::fromLatin1(entry.input.toHex()));
        json.insert(QStringLiteral("outCapacity"), static_cast<qint64>(entry.outputCapacity));
        json.insert(QStringLiteral("status"), entry.ok ? 1 : 0);
        json.insert(QStringLiteral("error"), static_cast<qint64>(entry.error));
        json.insert(QStringLiteral("injected"), entry.injected);
        json.insert(QStringLiteral("out"), QString::fromLatin1(entry.output.toHex()));
        break;
    }
    return json;
}

} // namespace

CallRecord::CallRecord(qint64 byteLimit)
    : m_byteLimit(byteLimit)
{
    m_clock.start();
}

const CallEntry& CallRecord::addCall(quint64 connection, quint32 code, const QByteArray& input,
                                     quint32 outputCapacity, const SimReply& reply, bool injected)
{
    CallEntry entry;
    entry.kind = CallEntry::Kind::Call;
    entry.connection = connection;
    entry.code = code;
    entry.input = input;
    entry.outputCapacity = outputCapacity;
    entry.ok = reply.ok;
    entry.error = reply.error;
    entry.injected = injected;
    entry.output = reply.output;
    return append(std::move(entry));
}

const CallEntry& CallRecord::addOpen(quint64 connection, int bus)
{
    CallEntry entry;
    entry.kind = CallEntry::Kind::Open;
    entry.connection = connection;
    entry.bus = bus;
    return append(std::move(entry));
}

const CallEntry& CallRecord::addClose(quint64 connection, const QString& reason)
{
    CallEntry entry;
    entry.kind = CallEntry::Kind::Close;
    entry.connection = connection;
    entry.reason = reason;
    return append(std::move(entry));
}

const CallEntry& CallRecord::addAsioNotice(const QByteArray& message)
{
    CallEntry entry;
    entry.kind = CallEntry::Kind::AsioNotice;
    entry.input = message;
    return append(std::move(entry));
}

const CallEntry& CallRecord::addAsioRequest(const QByteArray& message, bool ok, quint32 error)
{
    CallEntry entry;
    entry.kind = CallEntry::Kind::AsioRequest;
    entry.output = message;
    entry.ok = ok;
    entry.error = error;
    return append(std::move(entry));
}

qint64 CallRecord::storedBytes(const CallEntry& entry)
{
    return static_cast<qint64>(sizeof entry) + entry.input.size() + entry.output.size();
}

const CallEntry& CallRecord::append(CallEntry entry)
{
    entry.seq = m_nextSeq++;
    entry.timeUs = m_clock.nsecsElapsed() / 1000;
    m_bytes += storedBytes(entry);
    m_entries.push_back(std::move(entry));
    while (m_bytes > m_byteLimit && m_entries.size() > 1) {
        m_bytes -= storedBytes(m_entries.front());
        m_entries.pop_front();
    }
    return m_entries.back();
}

void CallRecord::clear()
{
    m_entries.clear();
    m_bytes = 0;
}

QJsonArray CallRecord::toJson() const
{
    QJsonArray array;
    for (const CallEntry& entry : m_entries)
        array.append(entryToJson(entry));
    return array;
}
