#pragma once

#include "driver/MixerRecords.h"
#include "panels/PanelStateFile.h"

#include <QMap>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <initializer_list>
#include <vector>

class Button;
class KestrumIoControl;
class Knob;
class QLabel;
class QSettings;

// What every model's panel is made of: its own driver channel, its own ini
// file, the complete mixer record it always sends whole, and the device
// commands with their log lines. The model classes add their controls and
// say which cells and keys each control drives.
class ModelPanel : public QWidget
{
public:
    // Matrix cell (row, column): columns are sources, rows destinations.
    struct MixerCell {
        int row;
        int column;
    };

    // A phone-input path: the left and right source cells into one output
    // and what is logged for it.
    struct PhonePath {
        MixerCell left;
        MixerCell right;
        const char* setLine;
        const char* failureLine;
    };

    // The level an output is driven at: muted silences it whatever else is
    // set, dimmed lowers it by 20 dB.
    static int effectiveLevel(int dB, bool muted, bool dimmed);
    // The phone input's level: the mean magnitude of its left and right
    // samples, so opposite halves of a loud wave do not cancel.
    static int phoneSample(const _MIXER_METER_DATA& meter);
    static QString levelText(int sample);

    // Whether the device opened and took the output presets; a panel whose
    // connect failed stays empty and inert (it holds no state file).
    bool isConnected() const { return settings != nullptr; }

protected:
    ModelPanel();
    ~ModelPanel() override;

    // Opens the channel, presets the given output volumes to 100 (each
    // preset must be accepted) and opens the ini file. False, logged, when
    // the panel must stay empty and inert.
    bool openDevice(const char* openFailureLine, std::initializer_list<int> outputChannels,
                    const QString& iniFileName);
    // Clears the record and sets the unity routing every model starts from,
    // plus the model's own extra cells. The output gain pairs the volume
    // knobs drive (from their first gain) start silent, so no record sent
    // before an output's stored state is restored drives it louder.
    void initialiseMixer(std::initializer_list<MixerCell> modelCells, std::initializer_list<int> volumeGains);
    template <typename Panel>
    void startMeterTimer(void (Panel::*poll)());

    void sendMicGain(int channel, int value);
    // A microphone switch: the USB command that sets it and its log lines.
    struct MicSwitch {
        bool (KestrumIoControl::*command)(int channel, int state);
        const char* clickedLine;
        const char* switchedLine; // %1: the channel
        const char* failureLine;
    };
    static const MicSwitch phantom48V;
    static const MicSwitch pad20dB;
    void switchMic(const MicSwitch& micSwitch, int channel, int state);
    void sendDirect(std::initializer_list<MixerCell> cells, int state);
    void sendPhoneLevel(const PhonePath& path, int dB);
    // Writes the level into the output's two gains and sends the record.
    bool sendOutputLevel(int firstGain, int level);
    // Which level a readout shows: a microphone channel's (its meter entry)
    // or the phone input's.
    enum class Level { Mic1 = 0, Mic2 = 1, Phone };
    void addLevelReadout(QLabel* readout, Level level);
    // One meter poll. The driver is read every time (a failure is logged and
    // keeps the last levels); the readouts show the levels only while the
    // panel can be seen, and catch up when it is shown.
    void pollMeters();
    void showEvent(QShowEvent* event) override;

    // Restores every control from the ini file (PanelStateFile::load). The
    // handlers it runs send the stored state to the device but leave the
    // file alone; it is written back afterwards, at once, only where it
    // differs. The controls are kept, in this order, to be sent again after
    // the channel reconnected.
    void restoreControls(std::initializer_list<PanelStateFile::Entry> entries);
    // A handler's write of its control's state, and the request to save it;
    // neither does anything while the controls are being restored or sent
    // again. A burst of changes (a drag, a wheel) is written once, as its
    // last state, 50 ms after its first change, and no later than the
    // panel's end.
    void storeButton(const char* key, const Button* control);
    void storeDial(const char* key, const Knob* control);
    void requestSave();

    // Logged after each successful write, when set.
    const char* savedLine = nullptr;
    _MIXER_FADER_DATA mixerData {};
    _MIXER_METER_DATA meterData {};
    QSettings* settings = nullptr;
    KestrumIoControl* driver = nullptr;

private:
    struct LevelReadout {
        QLabel* label;
        Level level;
    };

    int sampleOf(Level level) const;
    void showLevels();
    // The device missed what was sent while the channel was lost.
    void resendControls();
    void writeStateFile();

    bool restoring = false;
    std::vector<PanelStateFile::Entry> controls;
    QMap<QString, QVariant> unsaved;
    QTimer* saveTimer = nullptr;
    std::vector<LevelReadout> levelReadouts;
    bool metersRead = false;
};

template <typename Panel>
void ModelPanel::startMeterTimer(void (Panel::*poll)())
{
    auto* meterTimer = new QTimer(this);
    connect(meterTimer, &QTimer::timeout, static_cast<Panel*>(this), poll);
    meterTimer->start(500);
}
