#include "sim/Firmware.h"

#include <algorithm>

namespace firmware {

std::optional<QByteArray> fromText(const QString& text, QString* error)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() > kSize) {
        *error = QStringLiteral("firmware text \"%1\" is longer than %2 bytes").arg(text).arg(kSize);
        return std::nullopt;
    }
    bytes.resize(kSize, '\0');
    return bytes;
}

std::optional<QByteArray> fromHex(const QString& digits, QString* error)
{
    static const QString hexDigits = QStringLiteral("0123456789abcdefABCDEF");
    const bool allHex = std::all_of(digits.cbegin(), digits.cend(), [](QChar c) { return hexDigits.contains(c); });
    if (digits.size() != 2 * kSize || !allHex) {
        *error = QStringLiteral("firmware --hex needs exactly %1 hex digits, got \"%2\"").arg(2 * kSize).arg(digits);
        return std::nullopt;
    }
    return QByteArray::fromHex(digits.toLatin1());
}

QString display(const QByteArray& bytes)
{
    qsizetype end = bytes.size();
    while (end > 0 && bytes.at(end - 1) == '\0')
        --end;
    QString text;
    for (qsizetype i = 0; i < end; ++i) {
        const auto byte = static_cast<unsigned char>(bytes.at(i));
        if (byte >= 0x20 && byte < 0x7F && byte != '\\')
            text.append(QLatin1Char(static_cast<char>(byte)));
        else
            text.append(QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0')));
    }
    return text;
}

} // namespace firmware
