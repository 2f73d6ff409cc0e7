#include "ctl/PanelLink.h"

#include "remote/RemoteProtocol.h"

#include <QDeadlineTimer>

namespace {

// "No running panel" is said within two seconds.
constexpr int kConnectMs = 1500;
// A recall on a slow device may take a while; a panel that never answers does not hold the caller.
constexpr int kReplyMs = 30000;

} // namespace

bool PanelLink::open(QString& error)
{
    const QString name = RemoteProtocol::serverName(error);
    if (name.isEmpty())
        return false;
    socket.connectToServer(name);
    if (socket.waitForConnected(kConnectMs))
        return true;
    // Nothing there, or a dead panel's socket, is the usual case; anything else is worth its reason.
    const QLocalSocket::LocalSocketError cause = socket.error();
    error = QStringLiteral("no running panel");
    if (cause != QLocalSocket::ServerNotFoundError && cause != QLocalSocket::ConnectionRefusedError)
        error += QStringLiteral(" (%1)").arg(socket.errorString());
    return false;
}

std::optional<QJsonObject> PanelLink::ask(const QJsonObject& request, QString& error)
{
    socket.write(RemoteProtocol::line(request));
    std::optional<QJsonObject> reply = nextLine(kReplyMs);
    if (!reply)
        error = QStringLiteral("the panel did not answer");
    return reply;
}

std::optional<QJsonObject> PanelLink::nextEvent()
{
    return nextLine(-1);
}

std::optional<QJsonObject> PanelLink::nextLine(int waitMs)
{
    const QDeadlineTimer deadline(waitMs);
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || socket.state() != QLocalSocket::ConnectedState)
            return std::nullopt;
        socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
    return RemoteProtocol::parse(socket.readLine());
}
