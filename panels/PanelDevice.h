#pragma once

#include "driver/MixerRecords.h"
#include "panels/ModelTable.h"

#include <functional>
#include <vector>

class KestrumIoControl;

// A panel's own driver channel and the records it keeps: the complete mixer
// record, always sent whole, and the last meter reading. Each command logs
// its outcome.
class PanelDevice
{
public:
    using MixerCell = ModelTable::MixerCell;

    PanelDevice();
    ~PanelDevice();
    PanelDevice(const PanelDevice&) = delete;
    PanelDevice& operator=(const PanelDevice&) = delete;

    // Opens the channel and presets the given output volumes to 100, each of
    // which must be accepted. False, logged, when the panel must stay inert.
    // lost runs after a lost channel was opened again.
    bool open(const char* openFailureLine, const std::vector<int>& presetChannels, std::function<void()> lost);
    // Clears the record and sets the unity routing every model starts from,
    // plus the model's own cells. The outputs' gain pairs start silent, so
    // no record sent before an output's stored state is restored drives it
    // louder.
    void initialiseMixer(const ModelTable::Model& model);

    // Each command is true when the device took it.
    bool sendMicGain(int channel, int value);
    // A microphone switch: the USB command that sets it and its log lines.
    struct MicSwitch {
        bool (KestrumIoControl::*command)(int channel, int state);
        const char* clickedLine;
        const char* switchedLine; // %1: the channel
        const char* failureLine;
    };
    static const MicSwitch phantom48V;
    static const MicSwitch pad20dB;
    static const MicSwitch instrument;
    bool switchMic(const MicSwitch& micSwitch, int channel, int state);
    bool sendDirect(const std::vector<MixerCell>& cells, int state);
    // A phone-input path: its left and right cells at the level's gain.
    bool sendPhoneLevel(MixerCell left, MixerCell right, int dB, const char* setLine, const char* failureLine);
    // Writes the level into an output's two gains; false when refused.
    bool sendOutputLevel(int firstGain, int level);
    double outputGain(int k) const { return mixer.outputGains[k]; }
    // The record as last sent or tried; put back when a change the device
    // refused must not ride along with the next one.
    const _MIXER_FADER_DATA& mixerRecord() const { return mixer; }
    void setMixerRecord(const _MIXER_FADER_DATA& kept) { mixer = kept; }

    // False, logged, when the driver did not answer; the last levels stay.
    bool readMeters();
    const _MIXER_METER_DATA& meters() const { return meter; }

private:
    bool sendMixer();

    KestrumIoControl* driver = nullptr;
    _MIXER_FADER_DATA mixer {};
    _MIXER_METER_DATA meter {};
};
