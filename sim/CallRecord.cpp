#include "sim/CallRecord.h"

#include "sim/IoCodes.h"
#include "sim/ReceivedUsbPacket.h"

#include <QJsonObject>
#include <QtEndian>

namespace {

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// A short message in hex, a long one by its size.
QString hexOrSize(const QByteArray& bytes)
{
    return bytes.size() <= 20 ? QString::fromLatin1(bytes.toHex(' ')) : QStringLiteral("%1 bytes").arg(bytes.size());
}

// A value of 1, 2 or 4 bytes as its number.
QString shown(const QByteArray& bytes)
{
    switch (bytes.size()) {
    case 1:
        return QString::number(static_cast<quint8>(bytes.at(0)));
    case 2:
        return QString::number(qFromLittleEndian<quint16>(bytes.constData()));
    case 4:
        return QString::number(qFromLittleEndian<quint32>(bytes.constData()));
    default:
        return hexOrSize(bytes);
    }
}

QString result(const CallEntry& entry, const QByteArray& output)
{
    if (!entry.ok)
        return QStringLiteral("error %1%2").arg(entry.error).arg(entry.injected ? QStringLiteral(" (injected)") : QString());
    return output.isEmpty() ? QStringLiteral("ok") : QStringLiteral("ok ") + shown(output);
}

} // namespace

CallRecord::CallRecord(qint64 byteLimit)
    : m_byteLimit(byteLimit)
{
    m_clock.start();
}

qint64 CallRecord::storedBytes(const CallEntry& entry)
{
    return static_cast<qint64>(sizeof entry) + entry.input.size() + entry.output.size();
}

const CallEntry& CallRecord::add(CallEntry entry)
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
    static const QString kinds[] = { QStringLiteral("call"), QStringLiteral("open"), QStringLiteral("close"),
                                     QStringLiteral("asioNotice"), QStringLiteral("asioRequest") };
    QJsonArray array;
    for (const CallEntry& entry : m_entries) {
        QJsonObject json { { QStringLiteral("seq"), static_cast<qint64>(entry.seq) },
                           { QStringLiteral("timeUs"), entry.timeUs },
                           { QStringLiteral("kind"), kinds[static_cast<int>(entry.kind)] } };
        switch (entry.kind) {
        case CallEntry::Kind::Call:
            json.insert(QStringLiteral("code"), static_cast<qint64>(entry.code));
            json.insert(QStringLiteral("name"), iocode::name(entry.code));
            json.insert(QStringLiteral("in"), hex(entry.input));
            json.insert(QStringLiteral("outCapacity"), static_cast<qint64>(entry.outputCapacity));
            json.insert(QStringLiteral("injected"), entry.injected);
            Q_FALLTHROUGH();
        case CallEntry::Kind::AsioRequest:
            json.insert(QStringLiteral("status"), entry.ok ? 1 : 0);
            json.insert(QStringLiteral("error"), static_cast<qint64>(entry.error));
            json.insert(QStringLiteral("out"), hex(entry.output));
            break;
        case CallEntry::Kind::AsioNotice:
            json.insert(QStringLiteral("in"), hex(entry.input));
            break;
        case CallEntry::Kind::Close:
            json.insert(QStringLiteral("reason"), entry.reason);
            break;
        case CallEntry::Kind::Open:
            break;
        }
        // Pipe connections are not device connections: their messages carry no number.
        if (entry.kind != CallEntry::Kind::AsioNotice && entry.kind != CallEntry::Kind::AsioRequest)
            json.insert(QStringLiteral("conn"), static_cast<qint64>(entry.connection));
        array.append(json);
    }
    return array;
}

QString CallRecord::describe(const CallEntry& entry)
{
    const QString head = QStringLiteral("#%1 conn %2 ").arg(entry.seq).arg(entry.connection);
    switch (entry.kind) {
    case CallEntry::Kind::Open:
        return head + QStringLiteral("open");
    case CallEntry::Kind::Close:
        return head + QStringLiteral("closed (%1)").arg(entry.reason);
    case CallEntry::Kind::AsioNotice:
        return QStringLiteral("#%1 asio %2").arg(entry.seq).arg(entry.input == "1" ? QStringLiteral("reset notice") : QStringLiteral("message ") + hexOrSize(entry.input));
    case CallEntry::Kind::AsioRequest:
        return QStringLiteral("#%1 asio request %2 -> %3").arg(entry.seq).arg(hexOrSize(entry.output), result(entry, {}));
    case CallEntry::Kind::Call:
        break;
    }
    QString input = shown(entry.input);
    if (entry.code == iocode::kWriteUsbControl && entry.input.size() == ReceivedUsbPacket::kSize)
        input = ReceivedUsbPacket(entry.input).describeWrite();
    return head + QStringLiteral("%1 %2-> %3").arg(iocode::name(entry.code), input.isEmpty() ? QString() : input + QLatin1Char(' '), result(entry, entry.output));
}
