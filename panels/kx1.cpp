#include "panels/kx1.h"

#include "controls/Button.h"
#include "controls/Knob.h"
#include "driver/KestrumIoControl.h"
#include "panels/PanelStateFile.h"
#include "panels/PanelsLog.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QSettings>

using PanelStateFile::button;
using PanelStateFile::dial;

namespace {

const char* const kInstrumentKey = "Button/MicInstrIsChecked";
const char* const kPad20dBKey = "Button/Mic20dBIsChecked";
const char* const kPhantom48VKey = "Button/Mic48VIsChecked";
const char* const kPhoneToHeadphoneKey = "Dial/OtgToHpValue";

// Phone input left and right (columns 2 and 3) into the headphone pair.
const ModelPanel::PhonePath kPhoneToHeadphone { { 64, 2 }, { 65, 3 }, "OTG to HP volume set to:", "Failed to set OTG to HP volume." };

} // namespace

kx1::kx1()
    : SingleInputPanel(true)
{
    if (!openDevice("Failed to create device in kx1.", { 1, 2 }, "/kx1.ini"))
        return;
    buildLayout();
    initialiseMixer({}, { kHeadphoneGain });
    startMeterTimer(&kx1::readMeterDataFromDriver);
    loadControlStates();
}

void kx1::buildLayout()
{
    QHBoxLayout* root = PanelRecipes::installRoot(this);
    const PanelRecipes::InputColumn mic = addMicColumn(root);
    micInstrButton = PanelRecipes::addSwitchButton(this, mic.buttonStack, QCoreApplication::translate("kx1", "MIC"), PanelRecipes::kInstrumentColour,
                                                   QCoreApplication::translate("kx1", "Mic instrument input"));
    mic20dBButton = PanelRecipes::addSwitchButton(this, mic.buttonStack, QCoreApplication::translate("kx1", "20dB"), PanelRecipes::kPadColour,
                                                  QCoreApplication::translate("kx1", "Mic 20 dB pad"));
    mic48VButton = PanelRecipes::addSwitchButton(this, mic.buttonStack, QCoreApplication::translate("kx1", "48V"), PanelRecipes::kPhantomColour,
                                                 QCoreApplication::translate("kx1", "Mic 48V"));
    const PanelRecipes::PhoneRow phone = addDirectAndHeadphone(root, mic.buttonStack, QCoreApplication::translate("kx1", "Phone To HP Volume"));
    phoneToHeadphoneKnob = phone.knob;
    addLevelReadout(phone.levelReadout, Level::Phone);
    connectOwnControls();
}

void kx1::connectOwnControls()
{
    connect(micInstrButton, &Button::pressed, this, [this](bool state) { micInstrButtonClick(1, state); });
    connect(mic20dBButton, &Button::pressed, this, [this](bool state) { mic20dBButtonClick(1, state); });
    connect(mic48VButton, &Button::pressed, this, [this](bool state) { mic48VButtonClick(1, state); });
    connect(phoneToHeadphoneKnob, &Knob::valueChangedSig, this, [this](int dB) {
        sendPhoneLevel(kPhoneToHeadphone, dB);
        storeDial(kPhoneToHeadphoneKey, phoneToHeadphoneKnob);
        saveControlStates();
    });
}

void kx1::micInstrButtonClick(int channel, int state)
{
    qCDebug(lcPanels) << "Mic Instr Button Clicked" << state;
    if (driver->io_mic_instr_switch(channel, state)) {
        qCDebug(lcPanels) << "Mic instruction switched for channel 1.";
        micInstrButton->setText(state == 1 ? QCoreApplication::translate("kx1", "INST") : QCoreApplication::translate("kx1", "MIC"));
    } else {
        qCDebug(lcPanels) << "Failed to switch mic instruction.";
    }
    storeButton(kInstrumentKey, micInstrButton);
    saveControlStates();
}

void kx1::mic48VButtonClick(int channel, int state)
{
    switchMic(phantom48V, channel, state);
    storeButton(kPhantom48VKey, mic48VButton);
    saveControlStates();
}

void kx1::mic20dBButtonClick(int channel, int state)
{
    switchMic(pad20dB, channel, state);
    storeButton(kPad20dBKey, mic20dBButton);
    saveControlStates();
}

void kx1::readMeterDataFromDriver()
{
    pollMeters();
}

// MUTE and DIM come before the headphone knob, so the stored level is never
// sent unmuted or undimmed first.
void kx1::loadControlStates()
{
    restoreControls({
        button(kInstrumentKey, micInstrButton),
        button(kPad20dBKey, mic20dBButton),
        button(kPhantom48VKey, mic48VButton),
        button(kDirectKey, directButton),
        dial(kMicKey, micKnob, 0),
        button(kHeadphoneMuteKey, headphoneMuteButton),
        button(kHeadphoneDimKey, headphoneDimButton),
        dial(kHeadphoneKey, headphoneKnob, -80),
        dial(kPhoneToHeadphoneKey, phoneToHeadphoneKnob, 0),
    });
}
