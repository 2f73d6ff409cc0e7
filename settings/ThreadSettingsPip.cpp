#include "settings/ThreadSettingsPip.h"

#include "settings/SettingsLog.h"
#include "settings/PipeASIO.h"

#include <QStringList>
#include <QtEndian>

namespace {

constexpr int kWordCount = 5;
constexpr int kOpenWindowWord = 4;
// Keeps a pipe that cannot wait for clients from spinning.
constexpr unsigned long kPauseAfterFailureMs = 100;
// Clients read at once, side by side; more wait their turn.
constexpr int kMaxReaders = 32;

quint32 word(const char* buffer, int index)
{
    return qFromLittleEndian<quint32>(buffer + 4 * index);
}

} // namespace

ThreadSettingsPip::ThreadSettingsPip(QObject* parent)
    : QThread(parent)
    , listenPipe(PipeASIO::forRequests())
    , instances { listenPipe }
{
    readers.setMaxThreadCount(kMaxReaders);
    if (!listenPipe->createPipe())
        qCDebug(lcSettings) << "Failed to create named pipe in ThreadSettingsPip.";
    qCDebug(lcSettings) << "ThreadSettingsPip initialized.";
}

ThreadSettingsPip::~ThreadSettingsPip()
{
    stopping = true;
    {
        const QMutexLocker lock(&instancesLock);
        for (PipeASIO* pipe : std::as_const(instances))
            pipe->releaseWaits();
    }
    wait();
    readers.waitForDone();
    qDeleteAll(instances);
}

void ThreadSettingsPip::run()
{
    while (!stopping) {
        qCDebug(lcSettings) << "ThreadSettingsPip is running waiting Asio Info...";
        if (listenPipe->waitForClient()) {
            clientConnected();
            continue;
        }
        if (stopping)
            return;
        qCDebug(lcSettings) << "No data received from pipe.";
        QThread::msleep(kPauseAfterFailureMs);
    }
}

// The client's message is read on a thread of its own while another instance
// waits for the next client: one that connects and says nothing holds up
// nobody while it gets its time to speak.
void ThreadSettingsPip::clientConnected()
{
    PipeASIO* connected = listenPipe;
    PipeASIO* spare = spareInstance();
    if (spare && readers.tryStart([this, connected] { serve(connected); setIdle(connected); })) {
        listenPipe = spare;
        return;
    }
    // Every reader is busy: this one is read here, in turn.
    if (spare)
        setIdle(spare);
    serve(connected);
}

PipeASIO* ThreadSettingsPip::spareInstance()
{
    const QMutexLocker lock(&instancesLock);
    if (!idle.isEmpty())
        return idle.takeLast();
    if (instances.size() > kMaxReaders)
        return nullptr;
    auto* pipe = PipeASIO::forRequests();
    if (!pipe->createPipe()) {
        delete pipe;
        return nullptr;
    }
    instances.append(pipe);
    return pipe;
}

void ThreadSettingsPip::setIdle(PipeASIO* pipe)
{
    const QMutexLocker lock(&instancesLock);
    idle.append(pipe);
}

void ThreadSettingsPip::serve(PipeASIO* pipe)
{
    // Cleared before each read: a short message reads as if padded with zeros.
    char buffer[PipeASIO::kMessageCapacity] = {};
    if (pipe->receive(buffer))
        messageReceived(buffer);
    else if (!stopping)
        qCDebug(lcSettings) << "No data received from pipe.";
}

void ThreadSettingsPip::messageReceived(const char* buffer)
{
    QStringList words;
    for (int i = 0; i < kWordCount; ++i)
        words << QString::number(word(buffer, i));
    qCDebug(lcSettings).noquote() << "Received data from pipe:" << words.join(' ');
    if (word(buffer, kOpenWindowWord) != 0) {
        qCDebug(lcSettings) << "Open Window Signal from ASIO.";
        emit progressUpdated(1);
    }
}
