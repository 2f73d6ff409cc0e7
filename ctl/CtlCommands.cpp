#include "ctl/CtlCommands.h"

#include "ctl/PanelLink.h"
#include "remote/RemoteProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <cstdio>

using namespace RemoteProtocol;

namespace {

void say(const QString& text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

int complain(int status, const QString& message)
{
    std::fputs(qPrintable(QStringLiteral("kestrumctl: ") + message + QLatin1Char('\n')), stderr);
    return status;
}

QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// How a value is written, read and printed: switches on/off, knobs in dB.
QString text(const QJsonValue& value)
{
    return value.isBool() ? QString::fromLatin1(value.toBool() ? "on" : "off") : QString::number(value.toInt());
}

// The value to send for one control, or none when it is not one it takes.
std::optional<QJsonValue> valueFor(const QJsonObject& info, const QString& given)
{
    if (info["switch"].toBool()) {
        if (given == "on" || given == "off")
            return QJsonValue(given == "on" ? 1 : 0);
        if (given == "toggle")
            return QJsonValue(given);
        return std::nullopt;
    }
    bool ok = false;
    const double dB = given.toDouble(&ok);
    if (!ok || dB < info["min"].toInt() || dB > info["max"].toInt() || dB != std::floor(dB))
        return std::nullopt;
    return QJsonValue(static_cast<int>(dB));
}

QString range(const QJsonObject& info)
{
    return info["switch"].toBool() ? QStringLiteral("on, off or toggle")
                                   : QStringLiteral("a whole number of dB from %1 to %2").arg(info["min"].toInt()).arg(info["max"].toInt());
}

} // namespace

int CtlCommands::run(const QStringList& words)
{
    const QString command = words.value(0);
    const QStringList rest = words.mid(1);
    if (command == "get")
        return get(rest);
    if (command == "set" && !rest.isEmpty())
        return set(rest);
    if (command == "preset")
        return preset(rest);
    if (command == "undo" && rest.isEmpty())
        return tell({ { "command", "undo" } });
    if (command == "watch" && rest.isEmpty())
        return watch();
    return complain(BadRequest, QStringLiteral("bad usage; see kestrumctl --help"));
}

std::optional<QJsonObject> CtlCommands::ask(const QJsonObject& request, int& status)
{
    PanelLink link;
    QString error;
    std::optional<QJsonObject> reply;
    if (link.open(error))
        reply = link.ask(request, error);
    status = reply ? (*reply)["status"].toInt(BadRequest) : NoPanel;
    if (!reply) {
        complain(status, error);
        return std::nullopt;
    }
    if (status != Done) {
        complain(status, (*reply)["message"].toString());
        return std::nullopt;
    }
    return reply;
}

int CtlCommands::get(const QStringList& names)
{
    int status = Done;
    const std::optional<QJsonObject> reply = ask({ { "command", "get" } }, status);
    if (!reply)
        return status;
    QJsonObject values;
    for (const QJsonValue& info : (*reply)["controls"].toArray())
        values.insert(info["name"].toString(), info["value"]);
    for (const QString& name : names) {
        if (!values.contains(name))
            return complain(BadRequest, QStringLiteral("%1 has no control %2").arg((*reply)["model"].toString(), name));
    }
    if (!names.isEmpty()) {
        for (const QString& name : values.keys()) {
            if (!names.contains(name))
                values.remove(name);
        }
    }
    if (json) {
        say(compact({ { "model", (*reply)["model"] }, { "controls", values }, { "preset", (*reply)["preset"] }, { "modified", (*reply)["modified"] } }));
        return Done;
    }
    for (const QJsonValue& info : (*reply)["controls"].toArray()) {
        if (values.contains(info["name"].toString()))
            say(info["name"].toString() + QLatin1Char('=') + text(info["value"]));
    }
    return Done;
}

// Every name and value is checked against the model before anything is sent;
// the panel checks them again, and applies all or nothing.
int CtlCommands::set(const QStringList& assignments)
{
    int status = Done;
    const std::optional<QJsonObject> reply = ask({ { "command", "get" } }, status);
    if (!reply)
        return status;
    QMap<QString, QJsonObject> infos;
    for (const QJsonValue& info : (*reply)["controls"].toArray())
        infos.insert(info["name"].toString(), info.toObject());
    QJsonObject controls;
    for (const QString& assignment : assignments) {
        const QString name = assignment.section(QLatin1Char('='), 0, 0);
        if (!assignment.contains(QLatin1Char('=')))
            return complain(BadRequest, QStringLiteral("%1: not CONTROL=VALUE").arg(assignment));
        if (!infos.contains(name))
            return complain(BadRequest, QStringLiteral("%1 has no control %2").arg((*reply)["model"].toString(), name));
        const std::optional<QJsonValue> value = valueFor(infos[name], assignment.section(QLatin1Char('='), 1));
        if (!value)
            return complain(BadRequest, QStringLiteral("%1 takes %2").arg(name, range(infos[name])));
        controls.insert(name, *value);
    }
    return tell({ { "command", "set" }, { "controls", controls } });
}

int CtlCommands::preset(const QStringList& words)
{
    const QString action = words.value(0);
    if (action == "list" && words.size() == 1) {
        int status = Done;
        const std::optional<QJsonObject> reply = ask({ { "command", "preset" }, { "action", action } }, status);
        if (reply && json)
            say(compact({ { "presets", (*reply)["presets"] }, { "preset", (*reply)["preset"] }, { "modified", (*reply)["modified"] } }));
        else if (reply) {
            for (const QJsonValue& name : (*reply)["presets"].toArray())
                say(name.toString());
        }
        return status;
    }
    if ((action == "save" || action == "load" || action == "delete") && words.size() == 2)
        return tell({ { "command", "preset" }, { "action", action }, { "name", words[1] } });
    return complain(BadRequest, QStringLiteral("bad usage: kestrumctl preset list|save|load|delete [NAME]"));
}

// A request whose reply says no more than how it went, and which controls a
// preset of another model did not have.
int CtlCommands::tell(const QJsonObject& request)
{
    int status = Done;
    const std::optional<QJsonObject> reply = ask(request, status);
    if (reply && !(*reply)["skipped"].toArray().isEmpty())
        say(QStringLiteral("skipped: ") + (*reply)["skipped"].toVariant().toStringList().join(QStringLiteral(", ")));
    return status;
}

// The state when the watch starts, then a line per change until the panel goes.
int CtlCommands::watch()
{
    PanelLink link;
    QString error;
    if (!link.open(error))
        return complain(NoPanel, error);
    std::optional<QJsonObject> line = link.ask({ { "command", "watch" } }, error);
    if (!line)
        return complain(NoPanel, error);
    line->remove("status");
    for (; line; line = link.nextEvent())
        say(compact(*line));
    return complain(NoPanel, QStringLiteral("the panel quit"));
}
