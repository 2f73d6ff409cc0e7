#pragma once

#include "driver/KestrumIoControl.h"
#include "settings/AudioSettings.h"

#include <QList>
#include <QObject>

#include <functional>
#include <utility>

class QSettings;
class QTimer;

// Applies the audio settings to the driver through a channel of its own: each
// choice runs its fixed sequence of driver calls and is stored in setting.ini
// once the driver took it. It keeps what is chosen and what the driver took;
// a refused choice falls back to what the driver runs.
class SettingsEngine : public QObject
{
    Q_OBJECT

public:
    explicit SettingsEngine(QObject* parent = nullptr);
    // Runs the deferred steps still to come.
    ~SettingsEngine() override;

    // Opens a new driver channel, replacing the one held before. True when it opened.
    bool connect2Driver();
    // Programs the driver from the stored settings, each time a device was connected.
    void startSetup();
    void loadControlStates();
    void saveControlStates();
    // A new choice is applied at once; the one already chosen changes nothing.
    void choose(AudioSettings::Setting setting, unsigned int value);
    const AudioSettings& selection() const { return chosen; }
    // A deferred step of a sequence is still to come.
    bool pending() const { return !pendingSteps.isEmpty(); }

signals:
    // Chosen, loaded, lowered to fit the buffer size or fallen back.
    void selectionChanged();

private:
    using Step = void (SettingsEngine::*)();

    // The channel the sequences use: the engine's own, or a closed one on
    // which every command fails before any device was connected.
    KestrumIoControl& driver();
    void enforce(AudioSettings::Setting setting, unsigned int value);
    void apply(AudioSettings::Setting setting);
    void applyStored(AudioSettings::Setting setting);
    void fallBack(AudioSettings::Setting setting);
    void store(AudioSettings::Setting setting);
    void scheduleStep(Step step);
    void runStep(QTimer* timer);
    bool reprogram(AudioSettings::Setting setting, const std::function<bool()>& set, const char* setFailed);
    void restartAudio();
    void initialiseAudio(const char* failureMessage);
    void programRateAtStartup(unsigned int rate);
    void sampleRateChanged();
    void bufferSizeChanged();
    void usbLatencyChanged();
    void safeModeChanged();
    void sampleRateChipOffStep();
    void sampleRateChipOnStep();
    void startupChipOffStep();
    void startupChipOnStep();

    QSettings* settingsStore;
    KestrumIoControl* ioControl = nullptr;
    KestrumIoControl unconnectedChannel;
    AudioSettings chosen;
    AudioSettings applied;
    // The deferred steps still to come, in the order they are due.
    QList<std::pair<QTimer*, Step>> pendingSteps;
};
