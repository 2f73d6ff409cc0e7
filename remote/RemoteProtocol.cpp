#include "remote/RemoteProtocol.h"

#include <QJsonDocument>
#include <QJsonParseError>

#ifdef Q_OS_WIN
#include <QCryptographicHash>
#include <QDir>
#else
#include "platform/posix/RuntimeDir.h"

#include <cerrno>
#include <cstring>
#endif

namespace RemoteProtocol {

QString serverName(QString& error)
{
#ifdef Q_OS_WIN
    // Pipe names are machine-wide: the name carries the user (by the home
    // folder, which is the user's own) so two users' panels do not collide;
    // the pipe itself admits its user only (QLocalServer::UserAccessOption).
    const QByteArray user = QCryptographicHash::hash(QDir::homePath().toLower().toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    error.clear();
    return QStringLiteral("kestrum-panel-") + QString::fromLatin1(user);
#else
    // Inside the user's private runtime directory, which no one else may enter.
    std::string dir;
    std::uint32_t code = 0;
    if (!platform::posix::runtimeBaseDir(dir, code)) {
        error = QString::fromStdString(dir) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return QString();
    }
    error.clear();
    return QString::fromStdString(dir) + QStringLiteral("/panel.ctl");
#endif
}

QByteArray line(const QJsonObject& message)
{
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QJsonObject> parse(const QByteArray& line)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace RemoteProtocol
