#include "sim/TextValue.h"

#include <limits>
#include <utility>

namespace textvalue {

namespace {

const std::pair<const char*, quint32> kModels[] = { { "KX1", 1 }, { "KX2", kKx2 }, { "KQ", 15 } };

} // namespace

std::optional<quint64> number(const QString& text, quint64 max)
{
    bool ok = false;
    const quint64 value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? text.mid(2).toULongLong(&ok, 16)
                                                                                    : text.toULongLong(&ok, 10);
    if (!ok || value > max)
        return std::nullopt;
    return value;
}

std::optional<bool> onOff(const QString& text)
{
    if (text == QLatin1String("on"))
        return true;
    if (text == QLatin1String("off"))
        return false;
    return std::nullopt;
}

std::optional<QByteArray> hexBytes(const QString& digits, qsizetype maxBytes)
{
    // fromHex skips what is no hex digit, so only clean input comes back the same.
    const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
    if (bytes.toHex() != digits.toLower().toLatin1() || bytes.size() > maxBytes)
        return std::nullopt;
    return bytes;
}

std::optional<quint32> model(const QString& text)
{
    for (const auto& [name, pid] : kModels) {
        if (text.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return pid;
    }
    const std::optional<quint64> pid = number(text, std::numeric_limits<quint32>::max());
    return pid ? std::optional<quint32>(static_cast<quint32>(*pid)) : std::nullopt;
}

QString modelName(quint32 pid)
{
    for (const auto& [name, id] : kModels) {
        if (id == pid)
            return QLatin1String(name);
    }
    return QStringLiteral("PID %1").arg(pid);
}

std::optional<QByteArray> firmware(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() > kFirmwareSize)
        return std::nullopt;
    bytes.resize(kFirmwareSize, '\0');
    return bytes;
}

QString firmwareText(const QByteArray& bytes)
{
    qsizetype end = bytes.size();
    while (end > 0 && bytes.at(end - 1) == '\0')
        --end;
    QString text;
    for (const char c : bytes.left(end)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\')
            text.append(QLatin1Char(c));
        else
            text.append(QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0')));
    }
    return text;
}

} // namespace textvalue
