#pragma once

#include "app/DeviceSession.h"

#include <QCoreApplication>
#include <QMainWindow>

class QVBoxLayout;
class Settings;

// The one top-level window: it shows the device session's state, the
// model's panel with the firmware version in its title or a label that
// says why there is none. Closing it only hides it while a tray can bring
// it back.
class MainWindow : public QMainWindow
{
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    explicit MainWindow(QWidget* parent = nullptr);

    // The settings dialog, not owned; set by the entry routine. A connect
    // programs the driver through the dialog's engine.
    void setSettings(Settings* dialog);

    // The attached interface's session, for what drives its panel from
    // outside the window.
    DeviceSession* deviceSession() const { return session; }

    void callDriverTimerCallback() { session->callDriverTimerCallback(); }
    void readPidFromDriverCallback() { session->readPidFromDriverCallback(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showState(DeviceSession::State state);

    DeviceSession* session = nullptr;
    QVBoxLayout* baseLayout = nullptr;
};
