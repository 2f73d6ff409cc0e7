#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The messages on the ASIO pipes: the panel's one-byte reset notice, and the
// ASIO driver's request of five 32-bit little-endian words, word 4 non-zero
// asking for the settings window. Tests also send other lengths.
namespace asiomessage {

constexpr char kResetNotice = 0x31;
constexpr qsizetype kWordCount = 5;
constexpr qsizetype kRequestSize = 4 * kWordCount;
// As large as the pipe's buffers on Windows.
constexpr qsizetype kMaxSize = 65536;

bool isResetNotice(const QByteArray& message);

// Five words, each decimal or 0x hex.
std::optional<QByteArray> fromWords(const QStringList& words, QString* error);
// Hex digits, spread over any number of arguments (none: an empty message).
std::optional<QByteArray> fromHex(const QStringList& parts, QString* error);
// length bytes, byte i being i mod 256, but word 4 set to 1 when the message
// holds it, so that a request of any length would ask for the window.
std::optional<QByteArray> ofLength(const QString& length, QString* error);

// "20 bytes, words 0 0 0 0 1", with the first bytes in hex for other lengths.
QString describe(const QByteArray& message);

} // namespace asiomessage
