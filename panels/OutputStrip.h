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

    // Each is true when the device took the change.
    bool volumeChanged(int dB);
    bool muteClicked(int state);
    bool dimClicked(int state);
    bool phoneChanged(int dB);

    // MUTE and DIM as the strip applies them, kept to undo a refused change.
    struct Flags {
        bool muted;
        bool dimmed;
    };
    Flags flags() const { return { muted, dimmed }; }
    void setFlags(Flags kept) { muted = kept.muted, dimmed = kept.dimmed; }

private:
    const ModelTable::Output& output;
    const ModelTable::OutputKind& texts;
    PanelDevice& device;
    const Knob* volumeKnob;
    bool muted = false;
    bool dimmed = false;
};
