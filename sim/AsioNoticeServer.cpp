#include "sim/AsioNoticeServer.h"

#include "platform/WinError.h"
#include "platform/posix/RuntimeDir.h"
#include "platform/posix/SeqPacketSocket.h"
#include "sim/AsioMessage.h"
#include "sim/AsioPipe.h"
#include "sim/SeqPacketListener.h"

#include <QFileInfo>
#include <QSocketNotifier>

AsioNoticeServer::AsioNoticeServer(QObject* parent)
    : QObject(parent)
    // The panel sends one byte; anything past the largest message is cut off.
    , m_listener(new SeqPacketListener(this))
    , m_buffer(asiomessage::kMaxSize, Qt::Uninitialized)
{
    connect(m_listener, &SeqPacketListener::accepted, this, &AsioNoticeServer::onIncomingConnection);
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

bool AsioNoticeServer::isServing() const
{
    return m_listener->isListening();
}

bool AsioNoticeServer::serve(QString* error)
{
    if (isServing())
        return true;
    return resolveSocketPath(error)
        && m_listener->listen(m_socketPath, asiopipe::displayName(asiopipe::kNoticePipe), error);
}

int AsioNoticeServer::stop()
{
    const QList<int> open = m_connections.keys();
    for (const int fd : open)
        dropConnection(fd);
    m_listener->close();
    return static_cast<int>(open.size());
}

void AsioNoticeServer::onIncomingConnection(int fd)
{
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
