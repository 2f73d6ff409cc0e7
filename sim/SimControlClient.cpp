#include "sim/SimControlClient.h"

#include "platform/posix/RuntimeDir.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>

SimControlClient::SimControlClient(const QString& controlPath)
    : m_controlPath(controlPath)
{
}

QString SimControlClient::defaultControlPath(QString* error)
{
    std::string base;
    std::uint32_t code = 0;
    if (!platform::posix::runtimeBaseDir(base, code)) {
        *error = QStringLiteral("the runtime directory is not usable (error %1); check $XDG_RUNTIME_DIR, or $HOME/.cache without it").arg(code);
        return QString();
    }
    return QString::fromStdString(base) + QStringLiteral("/kestrum-sim.ctl");
}

SimControlClient::Result SimControlClient::send(const QStringList& command, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(m_controlPath);
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime())))
        return { Outcome::Unreachable, QStringLiteral("no sim answers at %1: %2").arg(m_controlPath, socket.errorString()) };

    socket.write(QJsonDocument(QJsonArray::fromStringList(command)).toJson(QJsonDocument::Compact) + '\n');
    // The sim hangs up after its one reply line.
    QByteArray received;
    while (!received.endsWith('\n')) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            break;
        received += socket.readAll();
    }
    const QJsonObject reply = QJsonDocument::fromJson(received).object();
    if (!reply.value(QStringLiteral("ok")).isBool())
        return { Outcome::Unreachable, QStringLiteral("no answer from the sim at %1 within %2 ms").arg(m_controlPath).arg(timeoutMs) };
    return { reply.value(QStringLiteral("ok")).toBool() ? Outcome::Ok : Outcome::Refused, reply.value(QStringLiteral("text")).toString() };
}
