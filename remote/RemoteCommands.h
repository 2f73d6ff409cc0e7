#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

class DeviceSession;
class ModelPanel;
struct ControlInfo;
class PresetBook;

// Carries out one request on the connected panel and the presets, as a hand
// on the controls would, and says how it went. A request to change controls
// is checked whole before anything is sent.
class RemoteCommands
{
public:
    RemoteCommands(DeviceSession* session, PresetBook* presets);

    QJsonObject execute(const QJsonObject& request);

    // The model and the recalled preset, as a watcher is first told.
    QJsonObject presetState() const;
    // A control's value as a reply shows it: a switch as true or false.
    static QJsonValue shown(const ModelPanel& panel, const QString& name, int value);

private:
    static QJsonValue shown(const ControlInfo& info, int value);
    ModelPanel* panel() const;
    QJsonObject get() const;
    QJsonObject set(const QJsonObject& controls);
    QJsonObject preset(const QString& action, const QString& name);
    QJsonObject undo();

    DeviceSession* session;
    PresetBook* presets;
};
