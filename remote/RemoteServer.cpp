#include "remote/RemoteServer.h"

#include "app/AppLog.h"
#include "app/DeviceSession.h"
#include "panels/ModelPanel.h"
#include "presets/PresetBook.h"
#include "remote/RemoteClient.h"
#include "remote/RemoteProtocol.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace {

// More clients at once than any script needs; those beyond are turned away.
constexpr int kMaxClients = 32;

} // namespace

RemoteServer::RemoteServer(DeviceSession* session, PresetBook* presets, QObject* parent)
    : QObject(parent)
    , session(session)
    , commands(session, presets)
    , server(new QLocalServer(this))
{
    server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server, &QLocalServer::newConnection, this, &RemoteServer::clientConnected);
    connect(session, &DeviceSession::stateChanged, this, &RemoteServer::sessionChanged);
    connect(presets, &PresetBook::changed, this, &RemoteServer::presetsChanged);
    sessionChanged();
}

void RemoteServer::listen()
{
    QString error;
    const QString name = RemoteProtocol::serverName(error);
    // A socket a killed panel left there is replaced: with an access option
    // set, Qt binds in a private folder and renames the socket into place.
    if (name.isEmpty() || !server->listen(name))
        qCWarning(lcApp).noquote() << "Remote control channel not opened:" << (name.isEmpty() ? error : server->errorString());
}

void RemoteServer::clientConnected()
{
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        if (findChildren<RemoteClient*>(Qt::FindDirectChildrenOnly).size() >= kMaxClients) {
            delete socket;
            continue;
        }
        auto* client = new RemoteClient(socket, this);
        connect(client, &RemoteClient::requestReceived, this, &RemoteServer::requestReceived);
    }
}

void RemoteServer::requestReceived(RemoteClient* client, const QJsonObject& request)
{
    if (request["command"] != QStringLiteral("watch")) {
        client->reply(commands.execute(request));
        return;
    }
    QJsonObject reply = commands.presetState();
    reply.insert("status", RemoteProtocol::Done);
    client->reply(reply, true);
    watchers.append(client);
}

// A new panel comes with each connect; its changes are followed from then on.
void RemoteServer::sessionChanged()
{
    ModelPanel* panel = session->panel();
    if (panel == watched)
        return;
    watched = panel;
    if (panel)
        connect(panel, &ModelPanel::controlValueChanged, this, &RemoteServer::controlValueChanged);
    presetsChanged();
}

void RemoteServer::controlValueChanged(const QString& name, int value)
{
    if (watched)
        tellWatchers({ { "control", name }, { "value", RemoteCommands::shown(*watched, name, value) } });
}

void RemoteServer::presetsChanged()
{
    const QJsonObject state = commands.presetState();
    if (state == lastState)
        return;
    lastState = state;
    tellWatchers(state);
}

void RemoteServer::tellWatchers(const QJsonObject& event)
{
    watchers.removeAll(nullptr);
    for (const QPointer<RemoteClient>& watcher : std::as_const(watchers))
        watcher->send(event);
}
