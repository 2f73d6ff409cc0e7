#include "panels/PanelDevice.h"

#include "driver/KestrumIoControl.h"
#include "panels/PanelsLog.h"

#include <QString>

#include <cstring>

namespace {

constexpr int kOutputPreset = 100;

// Inputs to their usual outputs at unity, as every model starts.
constexpr ModelTable::MixerCell kUnityCells[] = {
    { 4, 0 }, { 5, 1 }, { 6, 2 }, { 7, 3 }, { 8, 4 }, { 9, 5 }, { 10, 6 }, { 11, 7 },
    { 96, 0 }, { 97, 1 },
    { 128, 0 }, { 129, 1 },
    { 130, 0 }, { 131, 1 },
    { 160, 0 }, { 161, 1 }, { 162, 2 }, { 163, 3 }, { 164, 4 }, { 165, 5 }, { 166, 6 }, { 167, 7 },
};

void setCell(_MIXER_FADER_DATA& mixer, const ModelTable::MixerCell& cell, double gain)
{
    mixer.matrixGains[cell.row][cell.column] = gain;
}

} // namespace

const PanelDevice::MicSwitch PanelDevice::phantom48V {
    &KestrumIoControl::io_set_mic_48v, "Mic 48V Button Clicked", "Mic 48V switched for channel %1.", "Failed to switch mic 48V."
};
const PanelDevice::MicSwitch PanelDevice::pad20dB {
    &KestrumIoControl::io_set_mic_20db, "Mic 20dB Button Clicked", "Mic 20dB switched for channel %1.", "Failed to switch mic 20dB."
};
const PanelDevice::MicSwitch PanelDevice::instrument {
    &KestrumIoControl::io_mic_instr_switch, "Mic Instr Button Clicked", "Mic instruction switched for channel %1.",
    "Failed to switch mic instruction."
};

PanelDevice::PanelDevice() = default;

PanelDevice::~PanelDevice()
{
    delete driver;
}

bool PanelDevice::open(const char* openFailureLine, const std::vector<int>& presetChannels, std::function<void()> lost)
{
    driver = new KestrumIoControl;
    driver->reconnectWhenLost(std::move(lost));
    if (!driver->createDevice()) {
        qCDebug(lcPanels) << openFailureLine;
        return false;
    }
    bool presetsAccepted = true;
    for (int channel : presetChannels)
        presetsAccepted = driver->io_set_out_volume(channel, kOutputPreset) && presetsAccepted;
    if (!presetsAccepted)
        qCDebug(lcPanels) << "Failed to set output volume.";
    return presetsAccepted;
}

void PanelDevice::initialiseMixer(const ModelTable::Model& model)
{
    std::memset(&mixer, 0, sizeof mixer);
    for (double& gain : mixer.outputGains)
        gain = 1.0;
    for (const ModelTable::Output& output : model.outputs) {
        mixer.outputGains[output.firstGain] = 0.0;
        mixer.outputGains[output.firstGain + 1] = 0.0;
    }
    for (const MixerCell& cell : kUnityCells)
        setCell(mixer, cell, 1.0);
    for (const MixerCell& cell : model.unityCells)
        setCell(mixer, cell, 1.0);
}

bool PanelDevice::sendMicGain(int channel, int value)
{
    if (!driver->io_set_mic_volume(channel, value * 2)) {
        qCDebug(lcPanels) << "Failed to set mic volume.";
        return false;
    }
    qCDebug(lcPanels) << "Mic volume set to:" << value;
    return true;
}

bool PanelDevice::switchMic(const MicSwitch& micSwitch, int channel, int state)
{
    qCDebug(lcPanels) << micSwitch.clickedLine << state;
    if (!(driver->*micSwitch.command)(channel, state)) {
        qCDebug(lcPanels) << micSwitch.failureLine;
        return false;
    }
    qCDebug(lcPanels).noquote() << QString::fromLatin1(micSwitch.switchedLine).arg(channel);
    return true;
}

bool PanelDevice::sendDirect(const std::vector<MixerCell>& cells, int state)
{
    const double gain = state == 1 ? 1.0 : 0.0;
    for (const MixerCell& cell : cells)
        setCell(mixer, cell, gain);
    if (!sendMixer()) {
        qCDebug(lcPanels) << "Failed to set Monitor Mic.";
        return false;
    }
    qCDebug(lcPanels) << "Monitor Mic set to:" << state;
    return true;
}

bool PanelDevice::sendPhoneLevel(MixerCell left, MixerCell right, int dB, const char* setLine, const char* failureLine)
{
    const double gain = KestrumIoControl::dbToValue(dB);
    setCell(mixer, left, gain);
    setCell(mixer, right, gain);
    if (!sendMixer()) {
        qCDebug(lcPanels) << failureLine;
        return false;
    }
    qCDebug(lcPanels) << setLine << gain;
    return true;
}

bool PanelDevice::sendOutputLevel(int firstGain, int level)
{
    const double gain = KestrumIoControl::dbToValue(level);
    mixer.outputGains[firstGain] = gain;
    mixer.outputGains[firstGain + 1] = gain;
    return sendMixer();
}

bool PanelDevice::readMeters()
{
    if (driver->io_get_meter_data(meter))
        return true;
    qCDebug(lcPanels) << "Failed to read meter data from driver.";
    return false;
}

bool PanelDevice::sendMixer()
{
    return driver->io_set_mixer(mixer);
}
