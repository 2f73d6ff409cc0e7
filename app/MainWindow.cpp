#include "app/MainWindow.h"

#include "panels/ModelPanel.h"
#include "resources/AppIcon.h"
#include "settings/Settings.h"

#include <QCloseEvent>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

namespace {

// What the window says in place of a panel, or under one; null for nothing.
const char* statusText(DeviceSession::State state)
{
    switch (state) {
    case DeviceSession::State::Searching:
    case DeviceSession::State::ConnectFailed:
        return QT_TRANSLATE_NOOP("MainWindow", "声卡未连接！");
    case DeviceSession::State::UnknownDevice:
        return QT_TRANSLATE_NOOP("MainWindow", "未知设备，请检查连接！");
    case DeviceSession::State::FirmwarePending:
        return QT_TRANSLATE_NOOP("MainWindow", "获取固件版本失败，请检查连接！");
    case DeviceSession::State::Watching:
        break;
    }
    return nullptr;
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , session(new DeviceSession(this))
{
    setCentralWidget(new QWidget(this));
    setWindowFlags(Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(tr("Kestrum Driver"));
    setStyleSheet("QMainWindow { background-color: #2c313c; }");
    setWindowIcon(AppIcon::icon());

    baseLayout = new QVBoxLayout(centralWidget());
    baseLayout->setAlignment(Qt::AlignCenter);
    connect(session, &DeviceSession::stateChanged, this, &MainWindow::showState);
    showState(session->state());
}

void MainWindow::setSettings(Settings* dialog)
{
    session->setSettingsEngine(dialog ? &dialog->engine() : nullptr);
}

// Everything in the layout goes but the session's panel, which stays the
// same widget while its firmware is retried; the title keeps the last
// firmware read after the device is gone.
void MainWindow::showState(DeviceSession::State state)
{
    ModelPanel* panel = session->panel();
    while (QLayoutItem* item = baseLayout->takeAt(0)) {
        if (item->widget() != panel)
            item->widget()->deleteLater();
        delete item;
    }
    if (panel)
        baseLayout->addWidget(panel);
    if (const char* status = statusText(state)) {
        auto* label = new QLabel(tr(status), this);
        label->setStyleSheet("font-size: 12px; color: white;");
        baseLayout->addWidget(label);
    }
    if (state == DeviceSession::State::Watching)
        setWindowTitle(session->firmwareTitle());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        hide();
        event->ignore();
    }
}
