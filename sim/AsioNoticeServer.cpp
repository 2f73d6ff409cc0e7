#include "sim/AsioNoticeServer.h"

#include "platform/WinError.h"
#include "platform/posix/RuntimeDir.h"
#include "platform/posix/SeqPacketSocket.h"
#include "sim/AsioMessage.h"
#include "sim/AsioPipe.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

AsioNoticeServer::AsioNoticeServer(QObject* parent)
    : QObject(parent)
    // The panel sends one byte; anything past the largest message is cut off.
    , m_buffer(asiomessage::kMaxSize, Qt::Uninitialized)
{
}

AsioNoticeServer::~AsioNoticeServer()
{
    stop();
}

bool AsioNoticeServer::resolveSocketPath(QString* error)
{
    quint32 code = 0;
    const QString path = asiopipe::socketPath(asiopipe::kNoticePipe, &code);
    std::uint32_t dirError = 0;
    if (path.isEmpty() || !platform::posix::ensurePrivateDir(QFileInfo(path).path().toStdString(), dirError)) {
        *error = QStringLiteral("cannot place the socket of %1 (error %2): check $XDG_RUNTIME_DIR")
                     .arg(asiopipe::displayName(asiopipe::kNoticePipe))
                     .arg(path.isEmpty() ? code : dirError);
        return false;
    }
    m_socketPath = path;
    return true;
}

bool AsioNoticeServer::servedElsewhere() const
{
    std::uint32_t error = 0;
    const int fd = platform::posix::connectSeqPacket(m_socketPath.toStdString(), error);
    platform::posix::closeSocket(fd);
    return fd != platform::posix::kInvalidSocket;
}

bool AsioNoticeServer::serve(QString* error)
{
    if (isServing())
        return true;
    if (!resolveSocketPath(error))
        return false;
    if (servedElsewhere()) {
        *error = QStringLiteral("%1 is already served at %2").arg(asiopipe::displayName(asiopipe::kNoticePipe), m_socketPath);
        return false;
    }
    std::uint32_t code = 0;
    m_listenFd = platform::posix::listenSeqPacket(m_socketPath.toStdString(), code);
    if (m_listenFd < 0) {
        *error = QStringLiteral("cannot listen at %1 (error %2)").arg(m_socketPath).arg(code);
        return false;
    }
    m_listenNotifier = new QSocketNotifier(m_listenFd, QSocketNotifier::Read, this);
    connect(m_listenNotifier, &QSocketNotifier::activated, this, &AsioNoticeServer::onIncomingConnection);
    return true;
}

int AsioNoticeServer::stop()
{
    const QList<int> open = m_connections.keys();
    for (const int fd : open)
        dropConnection(fd);
    if (isServing()) {
        delete m_listenNotifier;
        m_listenNotifier = nullptr;
        platform::posix::closeSocket(m_listenFd);
        m_listenFd = -1;
        QFile::remove(m_socketPath);
    }
    return static_cast<int>(open.size());
}

void AsioNoticeServer::onIncomingConnection()
{
    std::uint32_t error = 0;
    const int fd = platform::posix::acceptSeqPacket(m_listenFd, 0, error);
    if (fd < 0)
        return;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, fd] { onReadable(fd); });
    m_connections.insert(fd, notifier);
}

void AsioNoticeServer::onReadable(int fd)
{
    platform::posix::ReceivedMessage received;
    std::uint32_t error = 0;
    if (!platform::posix::receiveMessage(fd, m_buffer.data(), static_cast<std::size_t>(m_buffer.size()), 0, received, error)) {
        if (error != platform::winerror::kSemTimeout)
            dropConnection(fd);
        return;
    }
    const QByteArray message = m_buffer.left(static_cast<qsizetype>(received.length));
    ++m_messages;
    if (asiomessage::isResetNotice(message))
        ++m_notices;
    m_lastMessage = message;
    emit messageReceived(message);
}

void AsioNoticeServer::dropConnection(int fd)
{
    QSocketNotifier* notifier = m_connections.take(fd);
    if (!notifier)
        return;
    notifier->setEnabled(false);
    platform::posix::closeSocket(fd);
    // The notifier may be the one whose signal is being served.
    notifier->deleteLater();
}
