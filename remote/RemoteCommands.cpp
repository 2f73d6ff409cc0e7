#include "remote/RemoteCommands.h"

#include "app/DeviceSession.h"
#include "panels/ModelPanel.h"
#include "presets/PresetBook.h"
#include "remote/RemoteProtocol.h"

#include <QJsonArray>

#include <cmath>

using namespace RemoteProtocol;

namespace {

QJsonObject failure(Status status, const QString& message)
{
    return { { "status", status }, { "message", message } };
}

QJsonObject notConnected()
{
    return failure(DeviceFailed, QStringLiteral("the device is not connected"));
}

// A knob takes a whole number of dB within its range; a switch 0, 1 or
// "toggle", which flips what it shows now.
std::optional<int> valueFor(const ControlInfo& info, const QJsonValue& asked, int now)
{
    if (info.isSwitch && asked == QJsonValue(QStringLiteral("toggle")))
        return now ? 0 : 1;
    const double number = asked.toDouble();
    if (!asked.isDouble() || number < info.minimum || number > info.maximum || number != std::floor(number))
        return std::nullopt;
    return static_cast<int>(number);
}

QJsonObject outcome(const PresetBook::Outcome& result)
{
    const Status status = result.status == PresetBook::Status::Done ? Done
        : result.status == PresetBook::Status::BadRequest           ? BadRequest
                                                                     : DeviceFailed;
    return { { "status", status }, { "message", result.message }, { "skipped", QJsonArray::fromStringList(result.skipped) },
             { "refused", QJsonArray::fromStringList(result.refused) } };
}

} // namespace

RemoteCommands::RemoteCommands(DeviceSession* session, PresetBook* presets)
    : session(session)
    , presets(presets)
{
}

QJsonObject RemoteCommands::execute(const QJsonObject& request)
{
    const QString command = request["command"].toString();
    if (command == "get")
        return get();
    if (command == "set")
        return set(request["controls"].toObject());
    if (command == "preset")
        return preset(request["action"].toString(), request["name"].toString());
    if (command == "undo")
        return undo();
    return failure(BadRequest, QStringLiteral("unknown command \"%1\"").arg(command));
}

ModelPanel* RemoteCommands::panel() const
{
    ModelPanel* connected = session->panel();
    return connected && connected->isConnected() ? connected : nullptr;
}

QJsonValue RemoteCommands::shown(const ModelPanel& panel, const QString& name, int value)
{
    for (const ControlInfo& info : panel.controlInfo()) {
        if (info.name == name)
            return shown(info, value);
    }
    return value;
}

QJsonValue RemoteCommands::shown(const ControlInfo& info, int value)
{
    return info.isSwitch ? QJsonValue(value != 0) : QJsonValue(value);
}

QJsonObject RemoteCommands::presetState() const
{
    const ModelPanel* connected = panel();
    const QString recalled = presets->lastRecalled();
    return { { "model", connected ? QJsonValue(connected->modelName()) : QJsonValue() },
             { "preset", recalled.isEmpty() ? QJsonValue() : QJsonValue(recalled) }, { "modified", presets->modified() } };
}

QJsonObject RemoteCommands::get() const
{
    const ModelPanel* connected = panel();
    if (!connected)
        return notConnected();
    const QMap<QString, int> values = connected->controlValues();
    QJsonArray controls;
    for (const ControlInfo& info : connected->controlInfo()) {
        controls.append(QJsonObject { { "name", info.name }, { "switch", info.isSwitch }, { "min", info.minimum },
                                      { "max", info.maximum }, { "value", shown(info, values.value(info.name)) } });
    }
    QJsonObject reply = presetState();
    reply.insert("status", Done);
    reply.insert("controls", controls);
    return reply;
}

QJsonObject RemoteCommands::set(const QJsonObject& controls)
{
    ModelPanel* connected = panel();
    if (!connected)
        return notConnected();
    QMap<QString, ControlInfo> infos;
    for (const ControlInfo& info : connected->controlInfo())
        infos.insert(info.name, info);
    const QMap<QString, int> now = connected->controlValues();
    QMap<QString, int> values;
    for (auto it = controls.constBegin(); it != controls.constEnd(); ++it) {
        if (!infos.contains(it.key()))
            return failure(BadRequest, QStringLiteral("%1 has no control %2").arg(connected->modelName(), it.key()));
        const std::optional<int> value = valueFor(infos[it.key()], it.value(), now.value(it.key()));
        if (!value)
            return failure(BadRequest, QStringLiteral("%1: bad value").arg(it.key()));
        values.insert(it.key(), *value);
    }
    if (values.isEmpty())
        return failure(BadRequest, QStringLiteral("no control to set"));
    const QStringList refused = connected->applyControls(values);
    if (!refused.isEmpty())
        return failure(DeviceFailed, QStringLiteral("the device refused %1").arg(refused.join(", ")));
    return { { "status", Done } };
}

QJsonObject RemoteCommands::preset(const QString& action, const QString& name)
{
    if (action == "list") {
        QJsonObject reply = presetState();
        reply.insert("status", Done);
        reply.insert("presets", QJsonArray::fromStringList(presets->names()));
        return reply;
    }
    if (action == "save")
        return outcome(presets->save(name));
    if (action == "load")
        return outcome(presets->recall(name));
    if (action == "delete")
        return outcome(presets->remove(name));
    return failure(BadRequest, QStringLiteral("unknown preset action \"%1\"").arg(action));
}

QJsonObject RemoteCommands::undo()
{
    return outcome(presets->undoRecall());
}
