#include "panels/kq.h"

#include "panels/PanelStateFile.h"

#include <QHBoxLayout>

using PanelStateFile::button;
using PanelStateFile::dial;

kq::kq()
    : SingleInputPanel(false)
{
    if (!openDevice("Failed to create device in kq.", { 1, 2 }, "/kq.ini"))
        return;
    buildLayout();
    // With no phone knob, the phone input always reaches the headphones at unity.
    initialiseMixer({ { 64, 2 }, { 65, 3 } }, { kHeadphoneGain });
    startMeterTimer(&kq::readMeterDataFromDriver);
    loadControlStates();
}

void kq::buildLayout()
{
    QHBoxLayout* root = PanelRecipes::installRoot(this);
    const PanelRecipes::InputColumn mic = addMicColumn(root);
    addDirectAndHeadphone(root, mic.buttonStack, QString());
}

void kq::readMeterDataFromDriver()
{
    pollMeters();
}

// MUTE and DIM come before the headphone knob, so the stored level is never
// sent unmuted or undimmed first.
void kq::loadControlStates()
{
    restoreControls({
        button(kDirectKey, directButton),
        dial(kMicKey, micKnob, 0),
        button(kHeadphoneMuteKey, headphoneMuteButton),
        button(kHeadphoneDimKey, headphoneDimButton),
        dial(kHeadphoneKey, headphoneKnob, -80),
    });
}
