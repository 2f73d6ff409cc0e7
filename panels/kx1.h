#pragma once

#include "panels/SingleInputPanel.h"

// The panel of the KX1: one microphone input with instrument input, pad and
// phantom power, the headphone output with MUTE and DIM, and the phone
// input's level into the headphones. Every change goes to the device at once
// and into "kx1.ini".
class kx1 : public SingleInputPanel
{
public:
    kx1();

    void micInstrButtonClick(int channel, int state);
    void mic48VButtonClick(int channel, int state);
    void mic20dBButtonClick(int channel, int state);
    void readMeterDataFromDriver();
    void loadControlStates();

private:
    void buildLayout();
    void connectOwnControls();

    Button* micInstrButton = nullptr;
    Button* mic20dBButton = nullptr;
    Button* mic48VButton = nullptr;
    Knob* phoneToHeadphoneKnob = nullptr;
};
