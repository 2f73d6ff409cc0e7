#pragma once

#include "panels/ModelPanel.h"

class QHBoxLayout;

// The panel of the KX2: two microphone channels, a speaker and a headphone
// output each with MUTE and DIM, and the phone input's level into both.
// Every control change goes to the device at once and into "kx2.ini".
class kx2 : public ModelPanel
{
public:
    kx2();

    void micKnobValueChanged(int channel, int value);
    void mic48VButtonClick(int channel, int state);
    void mic20dBButtonClick(int channel, int state);
    void headphoneKnobValueChanged(int dB);
    void headphoneMuteButtonClick(int state);
    void headphoneDimButtonClick(int state);
    void speakerKnobValueChanged(int dB);
    void speakerMuteButtonClick(int state);
    void speakerDimButtonClick(int state);
    void readMeterDataFromDriver();
    void loadControlStates();
    void saveControlStates();

private:
    struct MicStrip {
        Knob* gainKnob = nullptr;
        Button* pad20dBButton = nullptr;
        Button* phantom48VButton = nullptr;
        Button* directButton = nullptr;
    };

    // Which output gains an output drives and what is logged for it.
    struct OutputPath {
        int firstGain;
        const char* changedLine;
        const char* setLine;
        const char* failureLine;
    };
    static const OutputPath speakerPath;
    static const OutputPath headphonePath;

    MicStrip buildMicColumn(QHBoxLayout* root, int channel);
    void buildLayout();
    void connectMicStrip(int channel, const MicStrip& strip);
    void connectOutputs();
    void sendOutputVolume(const OutputPath& path, int dB, bool muted, bool dimmed);

    MicStrip mic1;
    MicStrip mic2;
    Knob* headphoneKnob = nullptr;
    Button* headphoneMuteButton = nullptr;
    Button* headphoneDimButton = nullptr;
    Knob* speakerKnob = nullptr;
    Button* speakerMuteButton = nullptr;
    Button* speakerDimButton = nullptr;
    bool speakerMuted = false;
    bool speakerDimmed = false;
    bool headphoneMuted = false;
    bool headphoneDimmed = false;
    Knob* phoneToHeadphoneKnob = nullptr;
    Knob* phoneToSpeakerKnob = nullptr;
};
