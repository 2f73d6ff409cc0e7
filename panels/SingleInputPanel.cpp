#include "panels/SingleInputPanel.h"

#include "controls/Button.h"
#include "controls/Knob.h"
#include "panels/PanelsLog.h"

#include <QCoreApplication>
#include <QSettings>

namespace {

constexpr int kMaxGain = 42;

} // namespace

SingleInputPanel::SingleInputPanel(bool logsHeadphoneGain)
    : logsHeadphoneGain(logsHeadphoneGain)
{
}

PanelRecipes::InputColumn SingleInputPanel::addMicColumn(QHBoxLayout* root)
{
    const PanelRecipes::InputColumn column = PanelRecipes::addInputColumn(
        this, root, QCoreApplication::translate("SingleInputPanel", "MIC"), kMaxGain, 0,
        { QCoreApplication::translate("SingleInputPanel", "Mic gain"),
          QCoreApplication::translate("SingleInputPanel", "Mic level") });
    micKnob = column.gainKnob;
    addLevelReadout(column.levelReadout, Level::Mic1);
    return column;
}

PanelRecipes::PhoneRow SingleInputPanel::addDirectAndHeadphone(QHBoxLayout* root, QVBoxLayout* buttonStack,
                                                               const QString& phoneCaption)
{
    directButton = PanelRecipes::addSwitchButton(this, buttonStack, QCoreApplication::translate("SingleInputPanel", "DIRECT"), PanelRecipes::kDirectColour,
                                                 QCoreApplication::translate("SingleInputPanel", "Mic direct monitoring"));
    PanelRecipes::addSeparator(this, root);
    const PanelRecipes::OutputColumn headphone = PanelRecipes::addOutputColumn(
        this, root, QCoreApplication::translate("SingleInputPanel", "HEADPHONE"), phoneCaption,
        { QCoreApplication::translate("SingleInputPanel", "Headphone volume"),
          QCoreApplication::translate("SingleInputPanel", "Headphone mute"),
          QCoreApplication::translate("SingleInputPanel", "Headphone dim"),
          QCoreApplication::translate("SingleInputPanel", "Phone to headphone level") });
    headphoneKnob = headphone.volumeKnob;
    headphoneMuteButton = headphone.muteButton;
    headphoneDimButton = headphone.dimButton;
    connectSharedControls();
    return headphone.phone;
}

void SingleInputPanel::connectSharedControls()
{
    connect(micKnob, &Knob::valueChangedSig, this, [this](int value) { micKnobValueChanged(1, value); });
    // The one input's left and right into the headphone pair.
    connect(directButton, &Button::pressed, this, [this](bool state) {
        sendDirect({ { 64, 0 }, { 65, 1 } }, state);
        storeButton(kDirectKey, directButton);
        saveControlStates();
    });
    connect(headphoneKnob, &Knob::valueChangedSig, this, &SingleInputPanel::headphoneKnobValueChanged);
    connect(headphoneMuteButton, &Button::pressed, this, &SingleInputPanel::headphoneMuteButtonClick);
    connect(headphoneDimButton, &Button::pressed, this, &SingleInputPanel::headphoneDimButtonClick);
}

void SingleInputPanel::micKnobValueChanged(int channel, int value)
{
    sendMicGain(channel, value);
    storeDial(kMicKey, micKnob);
    saveControlStates();
}

void SingleInputPanel::headphoneKnobValueChanged(int dB)
{
    const int level = effectiveLevel(dB, headphoneMuted, headphoneDimmed);
    if (!sendOutputLevel(kHeadphoneGain, level))
        qCDebug(lcPanels) << "Failed to set headphone volume.";
    else if (logsHeadphoneGain)
        qCDebug(lcPanels) << "Headphone volume set to:" << mixerData.outputGains[kHeadphoneGain];
    storeDial(kHeadphoneKey, headphoneKnob);
    saveControlStates();
}

void SingleInputPanel::headphoneMuteButtonClick(int state)
{
    headphoneMuted = state == 1;
    headphoneKnobValueChanged(headphoneMuted ? -80 : headphoneKnob->value);
    qCDebug(lcPanels) << (headphoneMuted ? "Headphone Mute Button Clicked: Mute ON" : "Headphone Mute Button Clicked: Mute OFF");
    storeButton(kHeadphoneMuteKey, headphoneMuteButton);
    saveControlStates();
}

void SingleInputPanel::headphoneDimButtonClick(int state)
{
    headphoneDimmed = state == 1;
    headphoneKnobValueChanged(headphoneKnob->value);
    qCDebug(lcPanels) << (headphoneDimmed ? "Headphone Dim Button Clicked: Dim ON" : "Headphone Dim Button Clicked: Dim OFF");
    storeButton(kHeadphoneDimKey, headphoneDimButton);
    saveControlStates();
}

void SingleInputPanel::saveControlStates()
{
    requestSave();
}
