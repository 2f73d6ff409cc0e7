#include "app/MainWindow.h"

#include "app/AppLog.h"
#include "driver/KestrumIoControl.h"
#include "panels/kq.h"
#include "panels/kx1.h"
#include "panels/kx2.h"
#include "resources/AppIcon.h"
#include "settings/Settings.h"

#include <QCloseEvent>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

namespace {

const char* const kNoDevice = QT_TRANSLATE_NOOP("MainWindow", "声卡未连接！");
const char* const kFirmwareUnreadable = QT_TRANSLATE_NOOP("MainWindow", "获取固件版本失败，请检查连接！");
const char* const kUnknownDevice = QT_TRANSLATE_NOOP("MainWindow", "未知设备，请检查连接！");

constexpr int kDetectIntervalMs = 1000;
constexpr int kPollIntervalMs = 400;
constexpr int kLostAfterFailedReads = 3;
constexpr unsigned int kFirmwareLength = 10;

template <typename Panel>
ModelPanel* createPanel()
{
    return new Panel;
}

} // namespace

struct MainWindow::Model {
    unsigned int pid;
    // The title's fixed part; the ten firmware characters follow it directly.
    const char* titlePrefix;
    const char* addedLogLine;
    ModelPanel* (*createPanel)();
};

const MainWindow::Model* MainWindow::modelForPid(unsigned int pid)
{
    static const Model models[] = {
        { 1, QT_TR_NOOP("Kestrum KX1 - FW: "), "Adding kx1 widget to layout.", createPanel<kx1> },
        { 2, QT_TR_NOOP("Kestrum KX2 - FW: "), "Adding kx2 widget to layout.", createPanel<kx2> },
        { 15, QT_TR_NOOP("Kestrum KQ - FW: "), "Adding kq widget to layout.", createPanel<kq> },
    };
    for (const Model& model : models) {
        if (model.pid == pid)
            return &model;
    }
    return nullptr;
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setCentralWidget(new QWidget(this));
    setWindowFlags(Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    detectTimer = new QTimer(this);
    connect(detectTimer, &QTimer::timeout, this, &MainWindow::callDriverTimerCallback);
    detectTimer->setInterval(kDetectIntervalMs);
    detectTimer->start();

    pollTimer = new QTimer(this);
    connect(pollTimer, &QTimer::timeout, this, &MainWindow::readPidFromDriverCallback);
    pollTimer->setInterval(kPollIntervalMs);

    setWindowTitle(tr("Kestrum Driver"));
    setStyleSheet("QMainWindow { background-color: #2c313c; }");
    setWindowIcon(AppIcon::icon());

    baseLayout = new QVBoxLayout(centralWidget());
    baseLayout->setAlignment(Qt::AlignCenter);
    showStatus(kNoDevice);
}

MainWindow::~MainWindow()
{
    if (pollChannel) {
        pollChannel->closeHandle();
        delete pollChannel;
        pollChannel = nullptr;
    }
}

void MainWindow::clearBaseLayout()
{
    while (QLayoutItem* item = baseLayout->takeAt(0)) {
        if (QWidget* widget = item->widget())
            widget->deleteLater();
        delete item;
    }
    statusLabel = nullptr;
    firmwarePending = nullptr;
}

bool MainWindow::showsOnly(const char* status) const
{
    return statusLabel && baseLayout->count() == 1 && statusLabel->text() == tr(status);
}

void MainWindow::showStatus(const char* status)
{
    statusLabel = new QLabel(tr(status), this);
    statusLabel->setStyleSheet("font-size: 12px; color: white;");
    baseLayout->addWidget(statusLabel);
}

// The watch channel is new, so the failed reads of an earlier channel no
// longer count: three failures in a row on this one mean the device is gone.
void MainWindow::replacePollChannel()
{
    delete pollChannel;
    pollChannel = new KestrumIoControl;
    pollChannel->createDevice();
    errorCount = 0;
    pollTimer->start();
}

// Concatenated rather than filled in with arg(), so that firmware bytes such
// as "%1" stay as they are.
void MainWindow::setFirmwareTitle(const Model& model, const unsigned char* firmware)
{
    QString title = tr(model.titlePrefix);
    for (unsigned int i = 0; i < kFirmwareLength; ++i)
        title += QChar(firmware[i]);
    setWindowTitle(title);
}

void MainWindow::callDriverTimerCallback()
{
    auto channel = std::make_unique<KestrumIoControl>();
    channel->createDevice();
    // A failed read means no device: the PID of an earlier read is stale.
    unsigned int pid = 0;
    devicePid = channel->io_get_device_pid(pid) ? pid : 0;
    qCDebug(lcApp) << "Device PID:" << devicePid;
    if (devicePid == 0) {
        noDeviceFound();
        return;
    }

    const Model* model = modelForPid(devicePid);
    // The panel and the settings are in place; only the firmware is missing.
    if (model && model == firmwarePending) {
        readFirmwareIntoTitle(*channel, *model);
        return;
    }

    clearBaseLayout();
    if (!model) {
        qCDebug(lcApp) << "Unknown device PID:" << devicePid;
        showStatus(kUnknownDevice);
        return;
    }
    ModelPanel* panel = connectDevice(*model);
    if (!panel) {
        showStatus(kNoDevice);
        return;
    }
    addPanel(panel, *model);
    readFirmwareIntoTitle(*channel, *model);
}

// The watch starts first, so that a device lost at any later step, or while
// the firmware read is retried, counts as a loss even when it is back by
// the next detection tick. Null when the connect failed: the next tick
// tries it again from the start. After a call that timed out the device
// is left alone: each further call would stall the GUI as long again.
ModelPanel* MainWindow::connectDevice(const Model& model)
{
    const unsigned int timeoutsBefore = KestrumIoControl::timedOutCalls();
    const auto deviceTimedOut = [timeoutsBefore] { return KestrumIoControl::timedOutCalls() != timeoutsBefore; };
    replacePollChannel();
    if (deviceTimedOut())
        return nullptr;
    if (!settings || !settings->connect2Driver()) {
        qCDebug(lcApp) << "Failed to connect to driver in settings window.";
        return nullptr;
    }
    settings->startSetup();
    if (deviceTimedOut())
        return nullptr;
    ModelPanel* panel = model.createPanel();
    if (panel->isConnected() && !deviceTimedOut())
        return panel;
    panel->deleteLater();
    return nullptr;
}

void MainWindow::noDeviceFound()
{
    if (!showsOnly(kNoDevice)) {
        clearBaseLayout();
        showStatus(kNoDevice);
    }
}

void MainWindow::addPanel(ModelPanel* panel, const Model& model)
{
    baseLayout->addWidget(panel);
    qCDebug(lcApp) << model.addedLogLine;
    update();
}

// Until the firmware reads, each detection tick retries only this, so the
// driver is not reprogrammed and the panel not rebuilt every second.
void MainWindow::readFirmwareIntoTitle(KestrumIoControl& channel, const Model& model)
{
    unsigned char firmware[kFirmwareLength] = {};
    if (!channel.io_get_firmware_version(firmware, kFirmwareLength)) {
        qCDebug(lcApp) << "Failed to get firmware version.";
        if (firmwarePending != &model)
            showStatus(kFirmwareUnreadable);
        firmwarePending = &model;
        return;
    }
    if (firmwarePending) {
        baseLayout->removeWidget(statusLabel);
        statusLabel->deleteLater();
        statusLabel = nullptr;
        firmwarePending = nullptr;
    }
    setFirmwareTitle(model, firmware);
    qCDebug(lcApp) << "Device found with PID:" << devicePid;
    detectTimer->stop();
}

void MainWindow::readPidFromDriverCallback()
{
    unsigned int pid = 0;
    if (pollChannel && pollChannel->io_get_device_pid(pid)) {
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

void MainWindow::deviceLost()
{
    pollTimer->stop();
    delete pollChannel;
    pollChannel = nullptr;
    qCDebug(lcApp) << "Meter driver handle deleted.";
    devicePid = 0;
    clearBaseLayout();
    qCDebug(lcApp) << "Cleared all widgets from base layout.";
    detectTimer->start();
    showStatus(kNoDevice);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        hide();
        event->ignore();
    }
}
