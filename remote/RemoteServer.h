#pragma once

#include "remote/RemoteCommands.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>

class DeviceSession;
class ModelPanel;
class PresetBook;
class QLocalServer;
class RemoteClient;

// The channel kestrumctl reaches the running panel by: a local socket of this
// user only, never a network port. Each client is served on the GUI thread
// without blocking it; watchers get a line per change of a control, of the
// connected model and of the recalled preset.
class RemoteServer : public QObject
{
    Q_OBJECT

public:
    RemoteServer(DeviceSession* session, PresetBook* presets, QObject* parent = nullptr);

    // Warns when the channel cannot be opened; the panel runs on without it.
    void listen();

private:
    void clientConnected();
    void requestReceived(RemoteClient* client, const QJsonObject& request);
    void sessionChanged();
    void controlValueChanged(const QString& name, int value);
    void presetsChanged();
    void tellWatchers(const QJsonObject& event);

    DeviceSession* session;
    RemoteCommands commands;
    QLocalServer* server;
    QList<QPointer<RemoteClient>> watchers;
    QPointer<ModelPanel> watched;
    QJsonObject lastState;
};
