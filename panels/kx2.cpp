#include "panels/kx2.h"

#include "controls/Button.h"
#include "controls/Knob.h"
#include "panels/PanelRecipes.h"
#include "panels/PanelStateFile.h"
#include "panels/PanelsLog.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QSettings>
#include <QVBoxLayout>

using PhonePath = ModelPanel::PhonePath;
using PanelStateFile::button;
using PanelStateFile::dial;

namespace {

constexpr int kMaxGain = 56;
// The preamp's gain starts at 9 dB, so the knob shows the step plus 9.
constexpr int kGainDisplayOffset = 9;

struct MicKeys {
    const char* gain;
    const char* pad20dB;
    const char* phantom48V;
    const char* direct;
};
const MicKeys kMicKeys[] = {
    { "Dial/Mic1Value", "Button/Mic120dBIsChecked", "Button/Mic148VIsChecked", "Button/MonitorMic1IsChecked" },
    { "Dial/Mic2Value", "Button/Mic220dBIsChecked", "Button/Mic248VIsChecked", "Button/MonitorMic2IsChecked" },
};
const char* const kSpeakerKey = "Dial/SpeakerValue";
const char* const kSpeakerMuteKey = "Button/SpeakerMuteIsChecked";
const char* const kSpeakerDimKey = "Button/SpeakerDimIsChecked";
const char* const kHeadphoneKey = "Dial/HeadphoneValue";
const char* const kHeadphoneMuteKey = "Button/HeadphoneMuteIsChecked";
const char* const kHeadphoneDimKey = "Button/HeadphoneDimIsChecked";
const char* const kPhoneToHeadphoneKey = "Dial/OtgToHpValue";
const char* const kPhoneToSpeakerKey = "Dial/OtgToSPValue";

// Phone input left and right (columns 2 and 3) into the speaker rows 64/65
// and the headphone rows 68/69.
const PhonePath kPhoneToSpeaker { { 64, 2 }, { 65, 3 }, "OTG to SP volume set to:", "Failed to set OTG to SP volume." };
const PhonePath kPhoneToHeadphone { { 68, 2 }, { 69, 3 }, "OTG to HP volume set to:", "Failed to set OTG to HP volume." };

} // namespace

const kx2::OutputPath kx2::speakerPath { 0, "Speaker Knob value changed:", "Speaker volume set to:", "Failed to set speaker volume." };
const kx2::OutputPath kx2::headphonePath { 4, "Headphone Knob value changed:", "Headphone volume set to:", "Failed to set headphone volume." };

kx2::kx2()
{
    savedLine = "控件状态已保存到配置文件";
    if (!openDevice("Failed to create device in kx2.", { 1, 2, 5, 6 }, "/kx2.ini"))
        return;
    buildLayout();
    initialiseMixer({ { 100, 0 }, { 101, 1 }, { 132, 0 }, { 133, 1 } }, { speakerPath.firstGain, headphonePath.firstGain });
    startMeterTimer(&kx2::readMeterDataFromDriver);
    loadControlStates();
}

kx2::MicStrip kx2::buildMicColumn(QHBoxLayout* root, int channel)
{
    const PanelRecipes::InputColumn column = PanelRecipes::addInputColumn(
        this, root, QCoreApplication::translate("kx2", "MIC%1").arg(channel), kMaxGain, kGainDisplayOffset,
        { QCoreApplication::translate("kx2", "Mic %1 gain").arg(channel),
          QCoreApplication::translate("kx2", "Mic %1 level").arg(channel) });
    addLevelReadout(column.levelReadout, channel == 1 ? Level::Mic1 : Level::Mic2);
    MicStrip strip;
    strip.gainKnob = column.gainKnob;
    strip.pad20dBButton = PanelRecipes::addSwitchButton(this, column.buttonStack, QCoreApplication::translate("kx2", "20dB"), PanelRecipes::kPadColour,
                                                        QCoreApplication::translate("kx2", "Mic %1 20 dB pad").arg(channel));
    strip.phantom48VButton = PanelRecipes::addSwitchButton(this, column.buttonStack, QCoreApplication::translate("kx2", "48V"), PanelRecipes::kPhantomColour,
                                                           QCoreApplication::translate("kx2", "Mic %1 48V").arg(channel));
    strip.directButton = PanelRecipes::addSwitchButton(
        this, column.buttonStack, QCoreApplication::translate("kx2", "DIRECT"), PanelRecipes::kDirectColour,
        QCoreApplication::translate("kx2", "Mic %1 direct monitoring").arg(channel));
    column.layout->addStretch();
    return strip;
}

void kx2::buildLayout()
{
    QHBoxLayout* root = PanelRecipes::installRoot(this);
    mic1 = buildMicColumn(root, 1);
    connectMicStrip(1, mic1);
    mic2 = buildMicColumn(root, 2);
    connectMicStrip(2, mic2);
    PanelRecipes::addSeparator(this, root);

    const PanelRecipes::OutputColumn speaker = PanelRecipes::addOutputColumn(
        this, root, QCoreApplication::translate("kx2", "SPEAKER"), QCoreApplication::translate("kx2", "Phone To SP Volume"),
        { QCoreApplication::translate("kx2", "Speaker volume"), QCoreApplication::translate("kx2", "Speaker mute"),
          QCoreApplication::translate("kx2", "Speaker dim"), QCoreApplication::translate("kx2", "Phone to speaker level") });
    speakerKnob = speaker.volumeKnob;
    speakerMuteButton = speaker.muteButton;
    speakerDimButton = speaker.dimButton;
    phoneToSpeakerKnob = speaker.phone.knob;
    addLevelReadout(speaker.phone.levelReadout, Level::Phone);

    const PanelRecipes::OutputColumn headphone = PanelRecipes::addOutputColumn(
        this, root, QCoreApplication::translate("kx2", "HEADPHONE"), QCoreApplication::translate("kx2", "Phone To HP Volume"),
        { QCoreApplication::translate("kx2", "Headphone volume"), QCoreApplication::translate("kx2", "Headphone mute"),
          QCoreApplication::translate("kx2", "Headphone dim"), QCoreApplication::translate("kx2", "Phone to headphone level") });
    headphoneKnob = headphone.volumeKnob;
    headphoneMuteButton = headphone.muteButton;
    headphoneDimButton = headphone.dimButton;
    phoneToHeadphoneKnob = headphone.phone.knob;
    addLevelReadout(headphone.phone.levelReadout, Level::Phone);
    connectOutputs();
}

void kx2::connectMicStrip(int channel, const MicStrip& strip)
{
    const MicKeys& keys = kMicKeys[channel - 1];
    connect(strip.gainKnob, &Knob::valueChangedSig, this, [this, channel, strip, keys](int value) {
        micKnobValueChanged(channel, value);
        storeDial(keys.gain, strip.gainKnob);
        saveControlStates();
    });
    connect(strip.pad20dBButton, &Button::pressed, this, [this, channel, strip, keys](bool state) {
        mic20dBButtonClick(channel, state);
        storeButton(keys.pad20dB, strip.pad20dBButton);
        saveControlStates();
    });
    connect(strip.phantom48VButton, &Button::pressed, this, [this, channel, strip, keys](bool state) {
        mic48VButtonClick(channel, state);
        storeButton(keys.phantom48V, strip.phantom48VButton);
        saveControlStates();
    });
    // The channel's column feeds the speaker's and the headphone's left and right rows.
    const int column = channel - 1;
    connect(strip.directButton, &Button::pressed, this, [this, column, strip, keys](bool state) {
        sendDirect({ { 64, column }, { 65, column }, { 68, column }, { 69, column } }, state);
        storeButton(keys.direct, strip.directButton);
        saveControlStates();
    });
}

void kx2::connectOutputs()
{
    connect(speakerKnob, &Knob::valueChangedSig, this, &kx2::speakerKnobValueChanged);
    connect(speakerMuteButton, &Button::pressed, this, &kx2::speakerMuteButtonClick);
    connect(speakerDimButton, &Button::pressed, this, &kx2::speakerDimButtonClick);
    connect(phoneToSpeakerKnob, &Knob::valueChangedSig, this, [this](int dB) {
        sendPhoneLevel(kPhoneToSpeaker, dB);
        storeDial(kPhoneToSpeakerKey, phoneToSpeakerKnob);
        saveControlStates();
    });
    connect(headphoneKnob, &Knob::valueChangedSig, this, &kx2::headphoneKnobValueChanged);
    connect(headphoneMuteButton, &Button::pressed, this, &kx2::headphoneMuteButtonClick);
    connect(headphoneDimButton, &Button::pressed, this, &kx2::headphoneDimButtonClick);
    connect(phoneToHeadphoneKnob, &Knob::valueChangedSig, this, [this](int dB) {
        sendPhoneLevel(kPhoneToHeadphone, dB);
        storeDial(kPhoneToHeadphoneKey, phoneToHeadphoneKnob);
        saveControlStates();
    });
}

void kx2::micKnobValueChanged(int channel, int value)
{
    sendMicGain(channel, value);
}

void kx2::mic48VButtonClick(int channel, int state)
{
    switchMic(phantom48V, channel, state);
}

void kx2::mic20dBButtonClick(int channel, int state)
{
    switchMic(pad20dB, channel, state);
}

void kx2::speakerKnobValueChanged(int dB)
{
    sendOutputVolume(speakerPath, dB, speakerMuted, speakerDimmed);
    storeDial(kSpeakerKey, speakerKnob);
    saveControlStates();
}

void kx2::speakerMuteButtonClick(int state)
{
    speakerMuted = state == 1;
    if (speakerMuted) {
        speakerKnobValueChanged(-80);
        qCDebug(lcPanels) << "Speaker Mute Button Clicked: Mute ON";
    } else {
        speakerKnobValueChanged(speakerKnob->value);
        qCDebug(lcPanels) << "Speaker Mute Button Clicked: Mute OFF";
    }
    storeButton(kSpeakerMuteKey, speakerMuteButton);
    saveControlStates();
}

void kx2::speakerDimButtonClick(int state)
{
    speakerDimmed = state == 1;
    speakerKnobValueChanged(speakerKnob->value);
    storeButton(kSpeakerDimKey, speakerDimButton);
    saveControlStates();
}

void kx2::headphoneKnobValueChanged(int dB)
{
    sendOutputVolume(headphonePath, dB, headphoneMuted, headphoneDimmed);
    storeDial(kHeadphoneKey, headphoneKnob);
    saveControlStates();
}

void kx2::headphoneMuteButtonClick(int state)
{
    headphoneMuted = state == 1;
    headphoneKnobValueChanged(headphoneKnob->value);
    storeButton(kHeadphoneMuteKey, headphoneMuteButton);
    saveControlStates();
}

void kx2::headphoneDimButtonClick(int state)
{
    headphoneDimmed = state == 1;
    headphoneKnobValueChanged(headphoneKnob->value);
    storeButton(kHeadphoneDimKey, headphoneDimButton);
    saveControlStates();
}

void kx2::readMeterDataFromDriver()
{
    pollMeters();
}

// Each output's MUTE and DIM come before its volume knob, so the stored
// level is never sent unmuted or undimmed first.
void kx2::loadControlStates()
{
    restoreControls({
        button(kMicKeys[0].pad20dB, mic1.pad20dBButton),
        button(kMicKeys[0].phantom48V, mic1.phantom48VButton),
        button(kMicKeys[0].direct, mic1.directButton),
        dial(kMicKeys[0].gain, mic1.gainKnob, 0),
        dial(kMicKeys[1].gain, mic2.gainKnob, 0),
        button(kMicKeys[1].pad20dB, mic2.pad20dBButton),
        button(kMicKeys[1].phantom48V, mic2.phantom48VButton),
        button(kMicKeys[1].direct, mic2.directButton),
        button(kSpeakerMuteKey, speakerMuteButton),
        button(kSpeakerDimKey, speakerDimButton),
        dial(kSpeakerKey, speakerKnob, -80),
        button(kHeadphoneMuteKey, headphoneMuteButton),
        button(kHeadphoneDimKey, headphoneDimButton),
        dial(kHeadphoneKey, headphoneKnob, -80),
        dial(kPhoneToHeadphoneKey, phoneToHeadphoneKnob, 0),
        dial(kPhoneToSpeakerKey, phoneToSpeakerKnob, 0),
    });
}

void kx2::sendOutputVolume(const OutputPath& path, int dB, bool muted, bool dimmed)
{
    qCDebug(lcPanels) << path.changedLine << dB;
    const int level = effectiveLevel(dB, muted, dimmed);
    if (sendOutputLevel(path.firstGain, level))
        qCDebug(lcPanels) << path.setLine << level;
    else
        qCDebug(lcPanels) << path.failureLine;
}

void kx2::saveControlStates()
{
    requestSave();
}
