#include "panels/ModelPanel.h"

#include "controls/Button.h"
#include "controls/Knob.h"
#include "driver/KestrumIoControl.h"
#include "panels/PanelsLog.h"
#include "settings/SaveFailureNotice.h"

#include <QLabel>
#include <QSettings>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr int kOutputPreset = 100;
constexpr int kSilentDb = -80;
constexpr int kDimDb = 20;
constexpr int kPhoneLeftEntry = 2;
constexpr int kPhoneRightEntry = 3;
// The longest a change waits for its write, and the shortest time between
// two writes.
constexpr int kSaveDelayMs = 50;

// Inputs to their usual outputs at unity, as every model starts.
constexpr ModelPanel::MixerCell kUnityCells[] = {
    { 4, 0 }, { 5, 1 }, { 6, 2 }, { 7, 3 }, { 8, 4 }, { 9, 5 }, { 10, 6 }, { 11, 7 },
    { 96, 0 }, { 97, 1 },
    { 128, 0 }, { 129, 1 },
    { 130, 0 }, { 131, 1 },
    { 160, 0 }, { 161, 1 }, { 162, 2 }, { 163, 3 }, { 164, 4 }, { 165, 5 }, { 166, 6 }, { 167, 7 },
};

void setCell(_MIXER_FADER_DATA& mixer, const ModelPanel::MixerCell& cell, double gain)
{
    mixer.matrixGains[cell.row][cell.column] = gain;
}

} // namespace

ModelPanel::ModelPanel()
    : QWidget(nullptr)
{
}

ModelPanel::~ModelPanel()
{
    if (saveTimer && saveTimer->isActive())
        writeStateFile();
    delete driver;
    delete settings;
}

int ModelPanel::effectiveLevel(int dB, bool muted, bool dimmed)
{
    if (muted)
        return kSilentDb;
    return dimmed ? dB - kDimDb : dB;
}

// Summed in 64 bits; the mean of two lowest samples is one past full scale
// and reads as full scale.
int ModelPanel::phoneSample(const _MIXER_METER_DATA& meter)
{
    const std::int64_t sum = std::llabs(meter.level[kPhoneLeftEntry]) + std::llabs(meter.level[kPhoneRightEntry]);
    return static_cast<int>(std::min<std::int64_t>(sum / 2, std::numeric_limits<std::int32_t>::max()));
}

QString ModelPanel::levelText(int sample)
{
    return QString::number(KestrumIoControl::pcmToDb(sample), 'f', 1) + " dB";
}

bool ModelPanel::openDevice(const char* openFailureLine, std::initializer_list<int> outputChannels,
                            const QString& iniFileName)
{
    driver = new KestrumIoControl;
    driver->reconnectWhenLost([this] { QTimer::singleShot(0, this, &ModelPanel::resendControls); });
    if (!driver->createDevice()) {
        qCDebug(lcPanels) << openFailureLine;
        return false;
    }
    bool presetsAccepted = true;
    for (int channel : outputChannels)
        presetsAccepted = driver->io_set_out_volume(channel, kOutputPreset) && presetsAccepted;
    if (!presetsAccepted) {
        qCDebug(lcPanels) << "Failed to set output volume.";
        return false;
    }
    settings = PanelStateFile::open(this, iniFileName);
    saveTimer = new QTimer(this);
    saveTimer->setSingleShot(true);
    saveTimer->setInterval(kSaveDelayMs);
    connect(saveTimer, &QTimer::timeout, this, &ModelPanel::writeStateFile);
    return true;
}

void ModelPanel::initialiseMixer(std::initializer_list<MixerCell> modelCells, std::initializer_list<int> volumeGains)
{
    std::memset(&mixerData, 0, sizeof mixerData);
    for (double& gain : mixerData.outputGains)
        gain = 1.0;
    for (int firstGain : volumeGains) {
        mixerData.outputGains[firstGain] = 0.0;
        mixerData.outputGains[firstGain + 1] = 0.0;
    }
    for (const MixerCell& cell : kUnityCells)
        setCell(mixerData, cell, 1.0);
    for (const MixerCell& cell : modelCells)
        setCell(mixerData, cell, 1.0);
}

void ModelPanel::sendMicGain(int channel, int value)
{
    if (driver->io_set_mic_volume(channel, value * 2))
        qCDebug(lcPanels) << "Mic volume set to:" << value;
    else
        qCDebug(lcPanels) << "Failed to set mic volume.";
}

const ModelPanel::MicSwitch ModelPanel::phantom48V {
    &KestrumIoControl::io_set_mic_48v, "Mic 48V Button Clicked", "Mic 48V switched for channel %1.", "Failed to switch mic 48V."
};
const ModelPanel::MicSwitch ModelPanel::pad20dB {
    &KestrumIoControl::io_set_mic_20db, "Mic 20dB Button Clicked", "Mic 20dB switched for channel %1.", "Failed to switch mic 20dB."
};

void ModelPanel::switchMic(const MicSwitch& micSwitch, int channel, int state)
{
    qCDebug(lcPanels) << micSwitch.clickedLine << state;
    if ((driver->*micSwitch.command)(channel, state))
        qCDebug(lcPanels).noquote() << QString::fromLatin1(micSwitch.switchedLine).arg(channel);
    else
        qCDebug(lcPanels) << micSwitch.failureLine;
}

void ModelPanel::sendDirect(std::initializer_list<MixerCell> cells, int state)
{
    const double gain = state == 1 ? 1.0 : 0.0;
    for (const MixerCell& cell : cells)
        setCell(mixerData, cell, gain);
    if (driver->io_set_mixer(mixerData))
        qCDebug(lcPanels) << "Monitor Mic set to:" << state;
    else
        qCDebug(lcPanels) << "Failed to set Monitor Mic.";
}

void ModelPanel::sendPhoneLevel(const PhonePath& path, int dB)
{
    const double gain = KestrumIoControl::dbToValue(dB);
    setCell(mixerData, path.left, gain);
    setCell(mixerData, path.right, gain);
    if (driver->io_set_mixer(mixerData))
        qCDebug(lcPanels) << path.setLine << gain;
    else
        qCDebug(lcPanels) << path.failureLine;
}

bool ModelPanel::sendOutputLevel(int firstGain, int level)
{
    const double gain = KestrumIoControl::dbToValue(level);
    mixerData.outputGains[firstGain] = gain;
    mixerData.outputGains[firstGain + 1] = gain;
    return driver->io_set_mixer(mixerData);
}

void ModelPanel::addLevelReadout(QLabel* readout, Level level)
{
    levelReadouts.push_back({ readout, level });
}

void ModelPanel::pollMeters()
{
    if (!driver->io_get_meter_data(meterData)) {
        qCDebug(lcPanels) << "Failed to read meter data from driver.";
        return;
    }
    metersRead = true;
    if (isVisible())
        showLevels();
}

void ModelPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    showLevels();
}

int ModelPanel::sampleOf(Level level) const
{
    return level == Level::Phone ? phoneSample(meterData) : meterData.level[static_cast<int>(level)];
}

// Until the first successful read the readouts keep their initial text.
void ModelPanel::showLevels()
{
    if (!metersRead)
        return;
    for (const LevelReadout& readout : levelReadouts)
        readout.label->setText(levelText(sampleOf(readout.level)));
}

void ModelPanel::restoreControls(std::initializer_list<PanelStateFile::Entry> entries)
{
    controls.assign(entries);
    restoring = true;
    PanelStateFile::load(*settings, entries);
    restoring = false;
    if (PanelStateFile::writeBack(*settings, entries))
        writeStateFile();
}

void ModelPanel::resendControls()
{
    restoring = true;
    for (const PanelStateFile::Entry& entry : controls) {
        if (entry.button)
            entry.button->setValue(entry.button->status);
        else
            entry.knob->setValue(entry.knob->value);
    }
    restoring = false;
}

void ModelPanel::storeButton(const char* key, const Button* control)
{
    if (!restoring)
        unsaved.insert(key, control->status);
}

void ModelPanel::storeDial(const char* key, const Knob* control)
{
    if (!restoring)
        unsaved.insert(key, control->value);
}

void ModelPanel::requestSave()
{
    if (!restoring && !saveTimer->isActive())
        saveTimer->start();
}

// Values reach the settings object only here: given earlier, it would write
// them itself on the next pass of the event loop, once per change.
void ModelPanel::writeStateFile()
{
    saveTimer->stop();
    for (auto it = unsaved.cbegin(); it != unsaved.cend(); ++it)
        settings->setValue(it.key(), it.value());
    unsaved.clear();
    if (!SaveFailureNotice::instance().sync(settings)) {
        qCDebug(lcPanels) << "Failed to save control states to" << settings->fileName() << settings->status();
        return;
    }
    if (savedLine)
        qCDebug(lcPanels) << savedLine;
}
