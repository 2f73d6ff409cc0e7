#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class KestrumIoControl;
class ModelPanel;
class QTimer;
class SettingsEngine;

// The attached interface, from the search for one to its loss, as one state
// at a time. A one-second detection timer looks for a device on a fresh
// channel each tick; from the start of a connect a 400 ms watch reads the
// PID on a channel of its own, until three reads in a row fail or another
// product ID answers. enterState is the only place a timer starts or stops.
class DeviceSession : public QObject
{
    Q_OBJECT

public:
    enum class State {
        // Nothing answers; detection runs.
        Searching,
        // A PID of no model answers; detection runs and reports it each tick.
        UnknownDevice,
        // The last connect did not complete, or the device went while its
        // firmware was retried: no panel. Detection and the watch both run,
        // and the first to reach its end moves on.
        ConnectFailed,
        // The panel is in place but the firmware did not read: each
        // detection tick retries only that, while the watch runs.
        FirmwarePending,
        // The panel is in place; only the watch runs.
        Watching,
    };
    Q_ENUM(State)

    explicit DeviceSession(QObject* parent = nullptr);
    ~DeviceSession() override;

    // The settings engine, not owned, that programs the driver on a connect.
    void setSettingsEngine(SettingsEngine* engine) { settings = engine; }

    State state() const { return current; }
    // The connected model's panel, not yet laid out by anyone; null in the
    // states without one.
    ModelPanel* panel() const;
    // The model's name and its firmware, once read.
    const QString& firmwareTitle() const { return title; }

    void callDriverTimerCallback();
    void readPidFromDriverCallback();

signals:
    // Also when a state is entered again: a new unknown device, a new failed connect.
    void stateChanged(DeviceSession::State state);

private:
    struct Model;
    static const Model* modelForPid(unsigned int pid);

    void enterState(State next);
    void noDeviceFound();
    bool connectDevice(const Model& model);
    bool readFirmware(KestrumIoControl& channel);
    void deviceLost();

    State current = State::Searching;
    unsigned int devicePid = 0;
    QTimer* detectTimer = nullptr;
    QTimer* pollTimer = nullptr;
    std::unique_ptr<KestrumIoControl> watch;
    int errorCount = 0;
    SettingsEngine* settings = nullptr;
    const Model* connectedModel = nullptr;
    QPointer<ModelPanel> connectedPanel;
    QString title;
};
