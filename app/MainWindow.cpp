#include "app/MainWindow.h"

#include "driver/KestrumIoControl.h"
#include "panels/kq.h"
#include "panels/kx1.h"
#include "panels/kx2.h"
#include "resources/AppIcon.h"
#include "settings/Settings.h"

#include <QCloseEvent>
#include <QDebug>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

namespace {

const char* const kNoDevice = "声卡未连接！";
const char* const kFirmwareUnreadable = "获取固件版本失败，请检查连接！";
const char* const kUnknownDevice = "未知设备，请检查连接！";

constexpr int kDetectIntervalMs = 1000;
constexpr int kPollIntervalMs = 400;
constexpr int kLostAfterFailedReads = 3;
constexpr unsigned int kFirmwareLength = 10;

template <typename Panel>
QWidget* createPanel()
{
    return new Panel;
}

} // namespace

struct MainWindow::Model {
    unsigned int pid;
    const char* titlePattern;
    const char* addedLogLine;
    QWidget* (*createPanel)();
};

const MainWindow::Model* MainWindow::modelForPid(unsigned int pid)
{
    static const Model models[] = {
        { 1, "Kestrum KX1 - FW: %1%2%3%4%5%6%7%8%9%10", "Adding kx1 widget to layout.", createPanel<kx1> },
        { 2, "Kestrum KX2 - FW: %1%2%3%4%5%6%7%8%9%10", "Adding kx2 widget to layout.", createPanel<kx2> },
        { 15, "Kestrum KQ - FW: %1%2%3%4%5%6%7%8%9%10", "Adding kq widget to layout.", createPanel<kq> },
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

    setWindowTitle("Kestrum Driver");
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
}

void MainWindow::showStatus(const QString& text)
{
    statusLabel = new QLabel(text, this);
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

void MainWindow::setFirmwareTitle(const Model& model, const unsigned char* firmware)
{
    QString title = QString::fromLatin1(model.titlePattern);
    for (unsigned int i = 0; i < kFirmwareLength; ++i)
        title = title.arg(QChar(firmware[i]));
    setWindowTitle(title);
}

void MainWindow::callDriverTimerCallback()
{
    auto channel = std::make_unique<KestrumIoControl>();
    channel->createDevice();
    channel->io_get_device_pid(devicePid);
    qDebug() << "Device PID:" << devicePid;
    if (devicePid == 0)
        return;

    clearBaseLayout();
    const Model* model = modelForPid(devicePid);
    if (!model) {
        qDebug() << "Unknown device PID:" << devicePid;
        showStatus(kUnknownDevice);
        return;
    }

    if (!settings || !settings->connect2Driver()) {
        qDebug() << "Failed to connect to driver in settings window.";
        replacePollChannel();
        return;
    }
    settings->startSetup();

    QWidget* panel = model->createPanel();
    panel->setParent(this);
    baseLayout->addWidget(panel);
    qDebug() << model->addedLogLine;
    update();

    unsigned char firmware[kFirmwareLength] = {};
    if (!channel->io_get_firmware_version(firmware, kFirmwareLength)) {
        qDebug() << "Failed to get firmware version.";
        showStatus(kFirmwareUnreadable);
        return;
    }
    setFirmwareTitle(*model, firmware);
    qDebug() << "Device found with PID:" << devicePid;
    detectTimer->stop();
    replacePollChannel();
}

void MainWindow::readPidFromDriverCallback()
{
    if (pollChannel && pollChannel->io_get_device_pid(devicePid)) {
        errorCount = 0;
        return;
    }
    ++errorCount;
    qDebug() << "Error reading device PID from driver, error count:" << errorCount;
    if (errorCount >= kLostAfterFailedReads)
        deviceLost();
}

void MainWindow::deviceLost()
{
    pollTimer->stop();
    delete pollChannel;
    pollChannel = nullptr;
    qDebug() << "Meter driver handle deleted.";
    devicePid = 0;
    clearBaseLayout();
    qDebug() << "Cleared all widgets from base layout.";
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
