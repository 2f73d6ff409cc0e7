#pragma once

#include "panels/ModelPanel.h"
#include "panels/PanelRecipes.h"

class QHBoxLayout;
class QVBoxLayout;

// The models with one microphone input and the headphone output only: the
// mic gain, DIRECT into the headphones, and the headphone volume with MUTE
// and DIM. Their handlers store and flush each change themselves.
class SingleInputPanel : public ModelPanel
{
public:
    void micKnobValueChanged(int channel, int value);
    void headphoneKnobValueChanged(int dB);
    void headphoneMuteButtonClick(int state);
    void headphoneDimButtonClick(int state);
    void saveControlStates();

protected:
    // logsHeadphoneGain: whether an accepted headphone level is logged.
    explicit SingleInputPanel(bool logsHeadphoneGain);

    // The "MIC" column up to its button stack, for the model's own switches.
    PanelRecipes::InputColumn addMicColumn(QHBoxLayout* root);
    // DIRECT under the model's switches, then the separator and the
    // headphone column; phoneCaption empty: no phone row.
    PanelRecipes::PhoneRow addDirectAndHeadphone(QHBoxLayout* root, QVBoxLayout* buttonStack,
                                                 const QString& phoneCaption);

    // The first of the headphone pair's output gains.
    static constexpr int kHeadphoneGain = 0;
    static constexpr const char* kDirectKey = "Button/MonitorMicIsChecked";
    static constexpr const char* kMicKey = "Dial/MicValue";
    static constexpr const char* kHeadphoneKey = "Dial/HeadphoneValue";
    static constexpr const char* kHeadphoneMuteKey = "Button/HeadphoneMuteIsChecked";
    static constexpr const char* kHeadphoneDimKey = "Button/HeadphoneDimIsChecked";

    Knob* micKnob = nullptr;
    Knob* headphoneKnob = nullptr;
    Button* headphoneMuteButton = nullptr;
    Button* headphoneDimButton = nullptr;
    Button* directButton = nullptr;
    bool headphoneMuted = false;
    bool headphoneDimmed = false;

private:
    void connectSharedControls();

    bool logsHeadphoneGain;
};
