#include "sim/SeqPacketListener.h"

#include "platform/posix/SeqPacketSocket.h"

#include <QFile>
#include <QSocketNotifier>

namespace {

bool servedElsewhere(const QString& socketPath)
{
    std::uint32_t error = 0;
    const int fd = platform::posix::connectSeqPacket(socketPath.toStdString(), error);
    platform::posix::closeSocket(fd);
    return fd != platform::posix::kInvalidSocket;
}

} // namespace

SeqPacketListener::SeqPacketListener(QObject* parent)
    : QObject(parent)
{
}

SeqPacketListener::~SeqPacketListener()
{
    close();
}

bool SeqPacketListener::listen(const QString& socketPath, const QString& what, QString* error)
{
    if (isListening())
        return true;
    if (servedElsewhere(socketPath)) {
        *error = QStringLiteral("%1 is already served at %2").arg(what, socketPath);
        return false;
    }
    std::uint32_t code = 0;
    m_listenFd = platform::posix::listenSeqPacket(socketPath.toStdString(), code);
    if (m_listenFd < 0) {
        *error = QStringLiteral("cannot listen at %1 (error %2)").arg(socketPath).arg(code);
        return false;
    }
    m_socketPath = socketPath;
    m_notifier = new QSocketNotifier(m_listenFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SeqPacketListener::onIncomingConnection);
    return true;
}

void SeqPacketListener::close()
{
    if (!isListening())
        return;
    delete m_notifier;
    m_notifier = nullptr;
    platform::posix::closeSocket(m_listenFd);
    m_listenFd = -1;
    QFile::remove(m_socketPath);
}

void SeqPacketListener::onIncomingConnection()
{
    std::uint32_t error = 0;
    const int fd = platform::posix::acceptSeqPacket(m_listenFd, 0, error);
    if (fd >= 0)
        emit accepted(fd);
}
