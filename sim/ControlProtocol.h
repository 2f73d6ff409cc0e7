#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What a control connection carries: one request line, a JSON array of
// strings (the command and its arguments, so spaces survive), then one reply
// line, a JSON object {"ok": bool, "text": string}; then the sim hangs up.
namespace controlprotocol {

// A request line longer than this is refused rather than buffered forever.
// It leaves room for asio-request --hex with its largest message.
constexpr qsizetype kMaxRequestBytes = 256 * 1024;

struct Reply {
    bool ok = true;
    QString text;
    bool quit = false; // the sim stops once this reply has gone out; not sent

    static Reply success(const QString& text) { return Reply { true, text, false }; }
    static Reply failure(const QString& text) { return Reply { false, text, false }; }
};

QByteArray encodeRequest(const QStringList& command);
std::optional<QStringList> decodeRequest(const QByteArray& line, QString* error);

QByteArray encodeReply(const Reply& reply);
std::optional<Reply> decodeReply(const QByteArray& line);

} // namespace controlprotocol
