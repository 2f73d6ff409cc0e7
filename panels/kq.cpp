#include "panels/kq.h"

#include "controls/Button.h"
#include "controls/Knob.h"
#include "panels/PanelStateFile.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>

using PanelStateFile::button;
using PanelStateFile::dial;

kq::kq()
    : SingleInputPanel(false)
{
    if (!openDevice("Failed to create device in kq.", { 1, 2 }, "/kq.ini"))
        return;
    buildLayout();
    // With no phone knob, the phone input always reaches the headphones at unity.
    initialiseMixer({ { 64, 2 }, { 65, 3 } });
    startMeterTimer(&kq::readMeterDataFromDriver);
    loadControlStates();
}

void kq::buildLayout()
{
    QHBoxLayout* root = PanelRecipes::installRoot(this);
    const PanelRecipes::InputColumn mic = addMicColumn(root);
    micKnob->setAccessibleName(QCoreApplication::translate("kq", "Mic gain"));
    micLevelLabel->setAccessibleName(QCoreApplication::translate("kq", "Mic level"));
    addDirectAndHeadphone(root, mic.buttonStack, QString());
    directButton->setAccessibleName(QCoreApplication::translate("kq", "Mic direct monitoring"));
    headphoneKnob->setAccessibleName(QCoreApplication::translate("kq", "Headphone volume"));
    headphoneMuteButton->setAccessibleName(QCoreApplication::translate("kq", "Headphone mute"));
    headphoneDimButton->setAccessibleName(QCoreApplication::translate("kq", "Headphone dim"));
}

void kq::readMeterDataFromDriver()
{
    if (readMeters())
        showMicLevel();
}

void kq::loadControlStates()
{
    PanelStateFile::load(*settings, {
        button(kDirectKey, directButton),
        dial(kMicKey, micKnob, 0),
        dial(kHeadphoneKey, headphoneKnob, -80),
        button(kHeadphoneMuteKey, headphoneMuteButton),
        button(kHeadphoneDimKey, headphoneDimButton),
    });
}
