#pragma once

#include "driver/KestrumIoControl.h"

#include <QCoreApplication>
#include <QDialog>
#include <QHash>
#include <QList>

#include <utility>

class QComboBox;
class QSettings;
class QString;
class QTimer;
class QVBoxLayout;

// The audio settings window: buffer size, USB latency, sample rate and safe
// mode. Each choice reprograms the driver at once through its own channel
// and is stored in "setting.ini" once the driver accepted it. The dialog also
// owns the listener through which the ASIO driver asks for it to be shown.
class Settings : public QDialog
{
    Q_DECLARE_TR_FUNCTIONS(Settings)

public:
    Settings();
    ~Settings() override;

    // Opens a new driver channel, replacing the one held before. True when it opened.
    bool connect2Driver();
    // Programs the driver from the stored settings, each time a device was connected.
    void startSetup();
    void loadControlStates();
    void saveControlStates();
    // A request of the ASIO driver: show the dialog and keep it on top.
    void pipThreadCallback();
    // "OK": hide the dialog and tell the ASIO driver to reset.
    void setupNoticAsio();

    void audioBufferSizeComboBoxInput(int index);
    void usbLatencySizeComboBoxInput(int index);
    void audioSampleRateComboBoxInput(int index);
    void usbSlowModeComboBoxInput(int index);

private:
    void buildLayout();
    QComboBox* addChoice(const QString& label, const QStringList& entries);
    void startAsioListener();

    // The channel the sequences use: the dialog's own, or a closed one on
    // which every command fails before any device was connected.
    KestrumIoControl& driver();
    void lowerUsbLatencyTo(unsigned int latency);
    void programRateAtStartup(unsigned int rate);
    void applyStored(QComboBox* box, const QString& key, const char* fallback, void (Settings::*change)(int));
    void rememberApplied(const QComboBox* box);
    void showApplied(QComboBox* box);
    void store(const QString& key, const QComboBox* box, const char* savedMessage);
    using Step = void (Settings::*)();
    void scheduleStep(Step step);
    void runStep(QTimer* timer);
    void finishPendingSteps();
    void restartAudio();
    void initialiseAudio(const char* failureMessage);
    void sampleRateChipOffStep();
    void sampleRateChipOnStep();
    void startupChipOffStep();
    void startupChipOnStep();

    QVBoxLayout* mainLayout = nullptr;
    QComboBox* usbLatencySizeComboBox = nullptr;
    QComboBox* audioBufferSizeComboBox = nullptr;
    QComboBox* audioSampleRateComboBox = nullptr;
    QComboBox* usbSlowModeComboBox = nullptr;
    QSettings* settingsStore = nullptr;
    KestrumIoControl* ioControl = nullptr;
    unsigned int sampleRate = 44100;
    KestrumIoControl unconnectedChannel;
    // What each box showed when the driver last took its value.
    QHash<const QComboBox*, QString> appliedChoice;
    // The deferred steps still to come, in the order they are due.
    QList<std::pair<QTimer*, Step>> pendingSteps;
};
