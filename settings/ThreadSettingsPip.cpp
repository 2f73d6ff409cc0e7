#include "settings/ThreadSettingsPip.h"

#include "settings/SettingsLog.h"
#include "settings/PipeASIO.h"

#include <QtEndian>

namespace {

const QString kAsioToPanelPipe = QStringLiteral("\\\\.\\pipe\\KestrumASIOToPannel");
constexpr int kWordCount = 5;
constexpr unsigned long kPauseBetweenClientsMs = 100;

} // namespace

ThreadSettingsPip::ThreadSettingsPip(QObject* parent)
    : QThread(parent)
    , listenPipe(new PipeASIO(kAsioToPanelPipe))
{
    if (!listenPipe->createPipe())
        qCDebug(lcSettings) << "Failed to create named pipe in ThreadSettingsPip.";
    qCDebug(lcSettings) << "ThreadSettingsPip initialized.";
}

ThreadSettingsPip::~ThreadSettingsPip()
{
    requestInterruption();
    listenPipe->releaseWaits();
    wait();
    delete listenPipe;
}

void ThreadSettingsPip::run()
{
    while (!isInterruptionRequested()) {
        qCDebug(lcSettings) << "ThreadSettingsPip is running waiting Asio Info...";
        // Cleared before each read: a short message reads as if padded with zeros.
        char buffer[PipeASIO::kMessageCapacity] = {};
        const bool received = listenPipe->read(buffer);
        if (isInterruptionRequested())
            return;
        if (received)
            messageReceived(buffer);
        else
            qCDebug(lcSettings) << "No data received from pipe.";
        QThread::msleep(kPauseBetweenClientsMs);
    }
}

void ThreadSettingsPip::messageReceived(const char* buffer)
{
    quint32 words[kWordCount];
    for (int i = 0; i < kWordCount; ++i)
        words[i] = qFromLittleEndian<quint32>(buffer + 4 * i);
    qCDebug(lcSettings) << "Received data from pipe:" << words[0] << words[1] << words[2] << words[3] << words[4];
    if (words[4] != 0) {
        qCDebug(lcSettings) << "Open Window Signal from ASIO.";
        emit progressUpdated(1);
    }
}
