#pragma once

#include "panels/ModelTable.h"

class Knob;
class PanelDevice;

// One output of a panel: its volume knob drives the output's gain pair at
// the level MUTE and DIM leave of it, and its phone knob, where it has one,
// the phone input's path into it.
class OutputStrip
{
public:
    OutputStrip(const ModelTable::Output& output, PanelDevice& device, const Knob* volumeKnob);

    // The level an output is driven at: muted silences it whatever else is
    // set, dimmed lowers it by 20 dB.
    static int effectiveLevel(int dB, bool muted, bool dimmed);

    void volumeChanged(int dB);
    void muteClicked(int state);
    void dimClicked(int state);
    void phoneChanged(int dB);

private:
    const ModelTable::Output& output;
    const ModelTable::OutputKind& texts;
    PanelDevice& device;
    const Knob* volumeKnob;
    bool muted = false;
    bool dimmed = false;
};
