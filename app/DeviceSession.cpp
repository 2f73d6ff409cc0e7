#include "app/DeviceSession.h"

#include "app/AppLog.h"
#include "driver/KestrumIoControl.h"
#include "panels/kq.h"
#include "panels/kx1.h"
#include "panels/kx2.h"
#include "settings/SettingsEngine.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

constexpr int kDetectIntervalMs = 1000;
constexpr int kPollIntervalMs = 400;
constexpr int kLostAfterFailedReads = 3;
constexpr unsigned int kFirmwareLength = 10;

template <typename Panel>
ModelPanel* createPanel()
{
    return new Panel;
}

// Started when it is not running yet, so that a tick that keeps it does
// not move its next tick.
void keepRunning(QTimer* timer, bool running)
{
    if (!running)
        timer->stop();
    else if (!timer->isActive())
        timer->start();
}

} // namespace

struct DeviceSession::Model {
    unsigned int pid;
    // The title's fixed part, a text of the main window's; the ten firmware
    // characters follow it directly.
    const char* titlePrefix;
    const char* addedLogLine;
    ModelPanel* (*createPanel)();
};

const DeviceSession::Model* DeviceSession::modelForPid(unsigned int pid)
{
    static const Model models[] = {
        { 1, QT_TRANSLATE_NOOP("MainWindow", "Kestrum KX1 - FW: "), "Adding kx1 widget to layout.", createPanel<kx1> },
        { 2, QT_TRANSLATE_NOOP("MainWindow", "Kestrum KX2 - FW: "), "Adding kx2 widget to layout.", createPanel<kx2> },
        { 15, QT_TRANSLATE_NOOP("MainWindow", "Kestrum KQ - FW: "), "Adding kq widget to layout.", createPanel<kq> },
    };
    for (const Model& model : models) {
        if (model.pid == pid)
            return &model;
    }
    return nullptr;
}

DeviceSession::DeviceSession(QObject* parent)
    : QObject(parent)
    , detectTimer(new QTimer(this))
    , pollTimer(new QTimer(this))
{
    detectTimer->setInterval(kDetectIntervalMs);
    connect(detectTimer, &QTimer::timeout, this, &DeviceSession::callDriverTimerCallback);
    pollTimer->setInterval(kPollIntervalMs);
    connect(pollTimer, &QTimer::timeout, this, &DeviceSession::readPidFromDriverCallback);
    enterState(State::Searching);
}

DeviceSession::~DeviceSession() = default;

ModelPanel* DeviceSession::panel() const
{
    return connectedPanel;
}

// The watch and the panel belong to the states that have a device
// connected; leaving them for good closes the one and lets the other go.
void DeviceSession::enterState(State next)
{
    current = next;
    const bool watched = next != State::Searching && next != State::UnknownDevice;
    if (!watched)
        watch.reset();
    if (next != State::FirmwarePending && next != State::Watching) {
        connectedPanel = nullptr;
        connectedModel = nullptr;
    }
    keepRunning(detectTimer, next != State::Watching);
    keepRunning(pollTimer, watched);
    emit stateChanged(next);
}

void DeviceSession::callDriverTimerCallback()
{
    KestrumIoControl channel;
    channel.createDevice();
    // A failed read means no device: the PID of an earlier read is stale.
    unsigned int pid = 0;
    devicePid = channel.io_get_device_pid(pid) ? pid : 0;
    qCDebug(lcApp) << "Device PID:" << devicePid;
    const Model* model = modelForPid(devicePid);
    if (devicePid == 0) {
        noDeviceFound();
    } else if (!model) {
        qCDebug(lcApp) << "Unknown device PID:" << devicePid;
        enterState(State::UnknownDevice);
    } else if (current == State::FirmwarePending && model == connectedModel) {
        // The panel and the settings are in place: the driver is not
        // reprogrammed and the panel not rebuilt every second.
        if (readFirmware(channel))
            enterState(State::Watching);
    } else if (connectDevice(*model)) {
        enterState(readFirmware(channel) ? State::Watching : State::FirmwarePending);
    } else {
        enterState(State::ConnectFailed);
    }
}

// A panel whose firmware is retried goes; its watch goes on until it sees
// the loss too. Elsewhere the watch, where it runs, decides.
void DeviceSession::noDeviceFound()
{
    if (current == State::UnknownDevice)
        enterState(State::Searching);
    else if (current == State::FirmwarePending)
        enterState(State::ConnectFailed);
}

// The watch starts first, so that a device lost at any later step, or while
// the firmware read is retried, counts as a loss even when it is back by
// the next detection tick; its failed reads of an earlier channel no longer
// count. False when the connect failed: the next tick tries it again from
// the start. After a call that timed out the device is left alone: each
// further call would stall the GUI as long again.
bool DeviceSession::connectDevice(const Model& model)
{
    const unsigned int timeoutsBefore = KestrumIoControl::timedOutCalls();
    const auto deviceTimedOut = [timeoutsBefore] { return KestrumIoControl::timedOutCalls() != timeoutsBefore; };
    connectedPanel = nullptr;
    watch = std::make_unique<KestrumIoControl>();
    watch->createDevice();
    errorCount = 0;
    if (deviceTimedOut())
        return false;
    if (!settings || !settings->connect2Driver()) {
        qCDebug(lcApp) << "Failed to connect to driver in settings window.";
        return false;
    }
    settings->startSetup();
    if (deviceTimedOut())
        return false;
    ModelPanel* panel = model.createPanel();
    if (!panel->isConnected() || deviceTimedOut()) {
        panel->deleteLater();
        return false;
    }
    qCDebug(lcApp) << model.addedLogLine;
    connectedPanel = panel;
    connectedModel = &model;
    return true;
}

// Concatenated rather than filled in with arg(), so that firmware bytes such
// as "%1" stay as they are.
bool DeviceSession::readFirmware(KestrumIoControl& channel)
{
    unsigned char firmware[kFirmwareLength] = {};
    if (!channel.io_get_firmware_version(firmware, kFirmwareLength)) {
        qCDebug(lcApp) << "Failed to get firmware version.";
        return false;
    }
    title = QCoreApplication::translate("MainWindow", connectedModel->titlePrefix);
    for (const unsigned char byte : firmware)
        title += QChar(byte);
    qCDebug(lcApp) << "Device found with PID:" << devicePid;
    return true;
}

void DeviceSession::readPidFromDriverCallback()
{
    unsigned int pid = 0;
    if (watch && watch->io_get_device_pid(pid)) {
        errorCount = 0;
        // Another model on the same bus: this panel and its records are not its own.
        if (pid != devicePid)
            deviceLost();
        return;
    }
    ++errorCount;
    qCDebug(lcApp) << "Error reading device PID from driver, error count:" << errorCount;
    if (errorCount >= kLostAfterFailedReads)
        deviceLost();
}

void DeviceSession::deviceLost()
{
    watch.reset();
    qCDebug(lcApp) << "Meter driver handle deleted.";
    devicePid = 0;
    enterState(State::Searching);
    qCDebug(lcApp) << "Cleared all widgets from base layout.";
}
