#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The 10 firmware bytes the device reports, as typed by a person and as shown.
namespace firmware {

constexpr int kSize = 10;

// Text of at most 10 bytes, padded with zero bytes.
std::optional<QByteArray> fromText(const QString& text, QString* error);

// Exactly 20 hex digits, so that any byte (a zero one too) can be set.
std::optional<QByteArray> fromHex(const QString& digits, QString* error);

// Printable text with trailing zero bytes dropped and other bytes as \xNN.
QString display(const QByteArray& bytes);

} // namespace firmware
