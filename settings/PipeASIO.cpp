#include "settings/PipeASIO.h"

#include "settings/SettingsLog.h"
#include "platform/WinError.h"

#include <cstring>

namespace {

const QString kAsioToPanelPipe = QStringLiteral("\\\\.\\pipe\\KestrumASIOToPannel");
const QString kPanelToAsioPipe = QStringLiteral("\\\\.\\pipe\\KestrumPannelToASIO");
constexpr char kResetNotice = 0x31;

// A client that connects and says nothing would hold the single instance,
// and with it every later request; it gets this long for its message.
constexpr int kClientMessageLimitMs = 1000;

// A wait released for shutdown is not a pipe failure worth a log line.
bool wasReleased(std::uint32_t error)
{
    return error == platform::winerror::kOperationAborted;
}

} // namespace

PipeASIO* PipeASIO::forRequests()
{
    return new PipeASIO(kAsioToPanelPipe);
}

void PipeASIO::sendResetNotice()
{
    std::uint32_t error = 0;
    const platform::PipeHandle pipe = platform::openPipe(kPanelToAsioPipe.toStdWString(), error);
    if (pipe == platform::kInvalidPipeHandle) {
        qCDebug(lcSettings) << "Error: Could not open pipe. Error code:" << error;
        return;
    }
    qCDebug(lcSettings) << "Pipe opened successfully.";
    if (platform::writePipe(pipe, &kResetNotice, 1, error))
        qCDebug(lcSettings) << "ASIO reset signal sent successfully.";
    else
        qCDebug(lcSettings) << "Error: Failed to send ASIO reset signal. Error code:" << error;
    platform::closePipe(pipe);
    qCDebug(lcSettings) << "设置通知ASIO逻辑";
}

PipeASIO::PipeASIO(const QString& name)
    : pipeName(name)
{
}

PipeASIO::~PipeASIO()
{
    close();
}

bool PipeASIO::createPipe()
{
    std::uint32_t error = 0;
    pipeHandle = platform::createNamedPipe(pipeName.toStdWString(), error);
    if (pipeHandle == platform::kInvalidPipeHandle) {
        qCDebug(lcSettings) << "Error: Could not create pipe. Error code:" << error;
        return false;
    }
    qCDebug(lcSettings) << "Pipe created successfully.";
    return true;
}

bool PipeASIO::waitForClient()
{
    std::uint32_t error = 0;
    if (platform::connectNamedPipe(pipeHandle, error) || error == platform::winerror::kPipeConnected)
        return true;
    // A client that wrote and closed before this wait still left its message;
    // taking it like any other keeps both the request and the instance, which
    // otherwise refuses every later client until it is disconnected.
    if (error == platform::winerror::kNoData)
        return true;
    if (!wasReleased(error))
        qCDebug(lcSettings) << "Error connecting to pipe. Error code:" << error;
    return false;
}

bool PipeASIO::read(char* buffer)
{
    return waitForClient() && receive(buffer);
}

bool PipeASIO::receive(char* buffer)
{
    char received[kMessageCapacity];
    std::uint32_t length = 0;
    std::uint32_t error = 0;
    const bool ok = platform::readPipe(pipeHandle, received, kMessageCapacity, length, error, kClientMessageLimitMs);
    if (ok)
        std::memcpy(buffer, received, length);
    else if (!wasReleased(error))
        qCDebug(lcSettings) << "Error reading from pipe. Error code:" << error;
    platform::disconnectNamedPipe(pipeHandle);
    return ok;
}

bool PipeASIO::write(const QByteArray& data)
{
    if (!waitForClient())
        return false;
    std::uint32_t error = 0;
    const bool ok = platform::writePipe(pipeHandle, data.constData(), static_cast<std::uint32_t>(data.size()), error);
    if (ok)
        qCDebug(lcSettings) << "Data written to pipe:" << data;
    else if (!wasReleased(error))
        qCDebug(lcSettings) << "Error writing to pipe. Error code:" << error;
    platform::disconnectNamedPipe(pipeHandle);
    return ok;
}

void PipeASIO::close()
{
    if (pipeHandle == platform::kInvalidPipeHandle)
        return;
    platform::disconnectNamedPipe(pipeHandle);
    platform::closePipe(pipeHandle);
    pipeHandle = platform::kInvalidPipeHandle;
    qCDebug(lcSettings) << "Pipe closed.";
}

void PipeASIO::releaseWaits()
{
    platform::cancelPipeWaits(pipeHandle);
}
