#include "sim/SeqPacketServer.h"

#include "platform/WinError.h"
#include "platform/posix/RuntimeDir.h"
#include "platform/posix/SeqPacketSocket.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

namespace {

// A peer that lets its socket fill up must not stall the whole sim.
constexpr int kSendLimitMs = 100;

} // namespace

SeqPacketServer::SeqPacketServer(qsizetype maxMessage, bool inTurn, QObject* parent)
    : QObject(parent)
    , m_inTurn(inTurn)
    , m_buffer(maxMessage, Qt::Uninitialized)
{
}

SeqPacketServer::~SeqPacketServer()
{
    close();
}

bool SeqPacketServer::listen(const std::wstring& windowsPath, QString* error)
{
    if (isListening())
        return true;
    const QString name = QString::fromStdWString(windowsPath);
    std::string path;
    std::uint32_t code = 0;
    if (!platform::posix::socketPathFor(windowsPath, path, code)
        || !platform::posix::ensurePrivateDir(QFileInfo(QString::fromStdString(path)).path().toStdString(), code)) {
        *error = QStringLiteral("cannot place the socket of %1 (error %2): check $XDG_RUNTIME_DIR, or $HOME/.cache without it").arg(name).arg(code);
        return false;
    }
    m_socketPath = QString::fromStdString(path);
    const int probe = platform::posix::connectSeqPacket(path, code);
    platform::posix::closeSocket(probe);
    if (probe != platform::posix::kInvalidSocket) {
        *error = QStringLiteral("%1 is already served at %2").arg(name, m_socketPath);
        return false;
    }
    m_listenFd = platform::posix::listenSeqPacket(path, code);
    if (m_listenFd < 0) {
        *error = QStringLiteral("cannot listen at %1 (error %2)").arg(m_socketPath).arg(code);
        return false;
    }
    m_listenNotifier = new QSocketNotifier(m_listenFd, QSocketNotifier::Read, this);
    connect(m_listenNotifier, &QSocketNotifier::activated, this, &SeqPacketServer::onIncomingConnection);
    return true;
}

QList<quint64> SeqPacketServer::close()
{
    const QList<quint64> dropped = m_connections.keys();
    for (const quint64 connection : dropped)
        drop(connection);
    if (isListening()) {
        delete m_listenNotifier;
        platform::posix::closeSocket(m_listenFd);
        m_listenFd = -1;
        QFile::remove(m_socketPath);
    }
    return dropped;
}

void SeqPacketServer::onIncomingConnection()
{
    std::uint32_t error = 0;
    const int fd = platform::posix::acceptSeqPacket(m_listenFd, 0, error);
    if (fd < 0)
        return;
    const quint64 connection = m_nextConnection++;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, connection] { onReadable(connection); });
    m_connections.insert(connection, { fd, notifier });
    emit opened(connection);
}

void SeqPacketServer::onReadable(quint64 connection)
{
    const auto [fd, notifier] = m_connections.value(connection);
    platform::posix::ReceivedMessage message;
    std::uint32_t error = 0;
    if (!platform::posix::receiveMessage(fd, m_buffer.data(), static_cast<std::size_t>(m_buffer.size()), 0, message, error)) {
        if (error != platform::winerror::kSemTimeout) {
            drop(connection);
            emit closed(connection);
        }
        return;
    }
    notifier->setEnabled(!m_inTurn);
    emit received(connection, m_buffer.left(static_cast<qsizetype>(message.length)), message.truncated);
}

void SeqPacketServer::reply(quint64 connection, const QByteArray& message, int delayMs)
{
    if (delayMs <= 0)
        send(connection, message);
    else if (m_connections.contains(connection))
        QTimer::singleShot(delayMs, m_connections.value(connection).second, [this, connection, message] { send(connection, message); });
}

void SeqPacketServer::send(quint64 connection, const QByteArray& message)
{
    if (!m_connections.contains(connection))
        return;
    const auto [fd, notifier] = m_connections.value(connection);
    std::uint32_t error = 0;
    if (!platform::posix::sendMessage(fd, message.constData(), static_cast<std::size_t>(message.size()), kSendLimitMs, error)) {
        drop(connection);
        emit closed(connection);
        return;
    }
    notifier->setEnabled(true);
}

void SeqPacketServer::drop(quint64 connection)
{
    const auto [fd, notifier] = m_connections.take(connection);
    notifier->setEnabled(false);
    platform::posix::closeSocket(fd);
    // The notifier may be the one whose signal is being served.
    notifier->deleteLater();
}
