#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// What kestrumctl and the running panel say to each other: one JSON object
// a line, a request from the program, a reply from the panel (and, for a
// watch, an event a line until the program goes). Every reply carries a
// "status" that is the program's exit status.
namespace RemoteProtocol {

enum Status { Done = 0, NoPanel = 1, BadRequest = 2, DeviceFailed = 3 };

// A request longer than this is not one; its sender is dropped.
constexpr int kMaxLineBytes = 16 * 1024;
// A client has this long to send its request.
constexpr int kIdleMs = 3000;

// The channel's name for QLocalServer and QLocalSocket, reachable by this
// user only. Empty, with the reason in error, when there is none.
QString serverName(QString& error);

// The message as one line.
QByteArray line(const QJsonObject& message);
// The object a line holds; none for anything else.
std::optional<QJsonObject> parse(const QByteArray& line);

} // namespace RemoteProtocol
