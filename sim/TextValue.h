#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Values as a person types them on the sim's command line, and as it shows them.
namespace textvalue {

constexpr quint32 kKx2 = 2;
constexpr int kFirmwareSize = 10;

// Decimal, or hex with 0x; nothing above max.
std::optional<quint64> number(const QString& text, quint64 max);
std::optional<bool> onOff(const QString& text);
// Pairs of hex digits, at most maxBytes of them.
std::optional<QByteArray> hexBytes(const QString& digits, qsizetype maxBytes);

// KX1, KX2, KQ (any case) or a product ID.
std::optional<quint32> model(const QString& text);
// "KX2", or "PID 7" for an ID no model has.
QString modelName(quint32 pid);

// Text of at most 10 bytes, padded with zero bytes.
std::optional<QByteArray> firmware(const QString& text);
// Printable text, trailing zero bytes dropped, other bytes as \xNN.
QString firmwareText(const QByteArray& bytes);

} // namespace textvalue
