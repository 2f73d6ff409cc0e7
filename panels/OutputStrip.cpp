#include "panels/OutputStrip.h"

#include "controls/Knob.h"
#include "panels/PanelDevice.h"
#include "panels/PanelsLog.h"

#include <QCoreApplication>

namespace ModelTable {

const OutputKind speaker { QT_TRANSLATE_NOOP("ModelPanel", "SPEAKER"), QT_TRANSLATE_NOOP("ModelPanel", "Phone To SP Volume"),
    { QT_TRANSLATE_NOOP("ModelPanel", "Speaker volume"), QT_TRANSLATE_NOOP("ModelPanel", "Speaker mute"), QT_TRANSLATE_NOOP("ModelPanel", "Speaker dim"), QT_TRANSLATE_NOOP("ModelPanel", "Phone to speaker level") },
    "Speaker Knob value changed:", "Speaker volume set to:", "Failed to set speaker volume.", "OTG to SP volume set to:", "Failed to set OTG to SP volume.",
    { { "Speaker Mute Button Clicked: Mute OFF", "Speaker Mute Button Clicked: Mute ON" }, { "Speaker Dim Button Clicked: Dim OFF", "Speaker Dim Button Clicked: Dim ON" } },
    { "Dial/SpeakerValue", "Button/SpeakerMuteIsChecked", "Button/SpeakerDimIsChecked", "Dial/OtgToSPValue" }, "speaker" };

const OutputKind headphone { QT_TRANSLATE_NOOP("ModelPanel", "HEADPHONE"), QT_TRANSLATE_NOOP("ModelPanel", "Phone To HP Volume"),
    { QT_TRANSLATE_NOOP("ModelPanel", "Headphone volume"), QT_TRANSLATE_NOOP("ModelPanel", "Headphone mute"), QT_TRANSLATE_NOOP("ModelPanel", "Headphone dim"), QT_TRANSLATE_NOOP("ModelPanel", "Phone to headphone level") },
    "Headphone Knob value changed:", "Headphone volume set to:", "Failed to set headphone volume.", "OTG to HP volume set to:", "Failed to set OTG to HP volume.",
    { { "Headphone Mute Button Clicked: Mute OFF", "Headphone Mute Button Clicked: Mute ON" }, { "Headphone Dim Button Clicked: Dim OFF", "Headphone Dim Button Clicked: Dim ON" } },
    { "Dial/HeadphoneValue", "Button/HeadphoneMuteIsChecked", "Button/HeadphoneDimIsChecked", "Dial/OtgToHpValue" }, "headphone" };

} // namespace ModelTable

namespace {

constexpr int kDimDb = 20;

} // namespace

OutputStrip::OutputStrip(const ModelTable::Output& output, PanelDevice& device, const Knob* volumeKnob)
    : output(output)
    , texts(*output.kind)
    , device(device)
    , volumeKnob(volumeKnob)
{
}

int OutputStrip::effectiveLevel(int dB, bool muted, bool dimmed)
{
    if (muted)
        return ModelTable::kSilentDb;
    return dimmed ? dB - kDimDb : dB;
}

bool OutputStrip::volumeChanged(int dB)
{
    if (output.logs & ModelTable::LogsChange)
        qCDebug(lcPanels) << texts.changedLine << dB;
    const int level = effectiveLevel(dB, muted, dimmed);
    if (!device.sendOutputLevel(output.firstGain, level)) {
        qCDebug(lcPanels) << texts.failureLine;
        return false;
    }
    if (output.logs & ModelTable::LogsLevel)
        qCDebug(lcPanels) << texts.setLine << level;
    else if (output.logs & ModelTable::LogsGain)
        qCDebug(lcPanels) << texts.setLine << device.outputGain(output.firstGain);
    return true;
}

bool OutputStrip::muteClicked(int state)
{
    muted = state == 1;
    const bool logged = output.logs & ModelTable::LogsMute;
    const bool took = volumeChanged(muted && logged ? ModelTable::kSilentDb : volumeKnob->value);
    if (logged)
        qCDebug(lcPanels) << texts.clickLines[0][muted];
    return took;
}

bool OutputStrip::dimClicked(int state)
{
    dimmed = state == 1;
    const bool took = volumeChanged(volumeKnob->value);
    if (output.logs & ModelTable::LogsDim)
        qCDebug(lcPanels) << texts.clickLines[1][dimmed];
    return took;
}

bool OutputStrip::phoneChanged(int dB)
{
    const int row = ModelTable::kFirstOutputRow + output.firstGain;
    return device.sendPhoneLevel({ row, ModelTable::kPhoneLeftColumn }, { row + 1, ModelTable::kPhoneRightColumn }, dB, texts.phoneSetLine,
                          texts.phoneFailureLine);
}
