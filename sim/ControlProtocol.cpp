#include "sim/ControlProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace controlprotocol {

QByteArray encodeRequest(const QStringList& command)
{
    return QJsonDocument(QJsonArray::fromStringList(command)).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QStringList> decodeRequest(const QByteArray& line, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray()) {
        *error = QStringLiteral("a request is one line holding a JSON array of strings");
        return std::nullopt;
    }
    QStringList command;
    for (const QJsonValue& value : document.array()) {
        if (!value.isString()) {
            *error = QStringLiteral("every element of the request must be a string");
            return std::nullopt;
        }
        command.append(value.toString());
    }
    if (command.isEmpty()) {
        *error = QStringLiteral("the request names no command");
        return std::nullopt;
    }
    return command;
}

QByteArray encodeReply(const Reply& reply)
{
    const QJsonObject object { { QStringLiteral("ok"), reply.ok }, { QStringLiteral("text"), reply.text } };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<Reply> decodeReply(const QByteArray& line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line);
    const QJsonObject object = document.object();
    if (!object.value(QStringLiteral("ok")).isBool() || !object.value(QStringLiteral("text")).isString())
        return std::nullopt;
    return Reply { object.value(QStringLiteral("ok")).toBool(), object.value(QStringLiteral("text")).toString(), false };
}

} // namespace controlprotocol
