#include "sim/AsioMessage.h"

#include "sim/NumberText.h"

#include <QtEndian>

#include <algorithm>
#include <limits>

namespace asiomessage {

namespace {

// Enough of a long message to recognise it on a terminal line.
constexpr qsizetype kShownBytes = 24;
constexpr qsizetype kWindowWordOffset = 16;

QString wordsOf(const QByteArray& message)
{
    QStringList words;
    for (qsizetype i = 0; i < kWordCount; ++i)
        words.append(QString::number(qFromLittleEndian<quint32>(message.constData() + 4 * i)));
    return words.join(QLatin1Char(' '));
}

std::optional<QByteArray> refuse(const QString& text, QString* error)
{
    *error = text;
    return std::nullopt;
}

} // namespace

bool isResetNotice(const QByteArray& message)
{
    return message.size() == 1 && message.at(0) == kResetNotice;
}

std::optional<QByteArray> fromWords(const QStringList& words, QString* error)
{
    if (words.size() != kWordCount)
        return refuse(QStringLiteral("a request takes exactly %1 words").arg(kWordCount), error);
    QByteArray message(kRequestSize, '\0');
    for (qsizetype i = 0; i < kWordCount; ++i) {
        const std::optional<quint64> word = numbertext::parseUnsigned(words[i], std::numeric_limits<quint32>::max());
        if (!word)
            return refuse(QStringLiteral("word %1 must be an unsigned 32-bit number, not \"%2\"").arg(i).arg(words[i]), error);
        qToLittleEndian<quint32>(static_cast<quint32>(*word), message.data() + 4 * i);
    }
    return message;
}

std::optional<QByteArray> fromHex(const QStringList& parts, QString* error)
{
    static const QString hexDigits = QStringLiteral("0123456789abcdefABCDEF");
    const QString digits = parts.join(QString()).remove(QLatin1Char(' '));
    const bool allHex = std::all_of(digits.cbegin(), digits.cend(), [](QChar c) { return hexDigits.contains(c); });
    if (!allHex || digits.size() % 2 != 0)
        return refuse(QStringLiteral("--hex takes pairs of hex digits, not \"%1\"").arg(digits.left(2 * kShownBytes)), error);
    if (digits.size() / 2 > kMaxSize)
        return refuse(QStringLiteral("a message holds at most %1 bytes, not %2").arg(kMaxSize).arg(digits.size() / 2), error);
    return QByteArray::fromHex(digits.toLatin1());
}

std::optional<QByteArray> ofLength(const QString& length, QString* error)
{
    const std::optional<quint64> size = numbertext::parseUnsigned(length, kMaxSize);
    if (!size)
        return refuse(QStringLiteral("--length takes 0..%1, not \"%2\"").arg(kMaxSize).arg(length), error);
    QByteArray message(static_cast<qsizetype>(*size), Qt::Uninitialized);
    for (qsizetype i = 0; i < message.size(); ++i)
        message[i] = static_cast<char>(i & 0xFF);
    if (message.size() >= kRequestSize)
        qToLittleEndian<quint32>(1, message.data() + kWindowWordOffset);
    return message;
}

QString describe(const QByteArray& message)
{
    if (message.size() == kRequestSize)
        return QStringLiteral("20 bytes, words %1").arg(wordsOf(message));
    if (message.isEmpty())
        return QStringLiteral("0 bytes");
    const QString shown = QString::fromLatin1(message.left(kShownBytes).toHex(' '));
    return QStringLiteral("%1 byte(s): %2%3").arg(message.size()).arg(shown, message.size() > kShownBytes ? QStringLiteral(" ...") : QString());
}

} // namespace asiomessage
