#include "panels/ModelPanel.h"

#include "controls/Button.h"
#include "controls/Knob.h"
#include "driver/KestrumIoControl.h"
#include "panels/PanelRecipes.h"
#include "panels/PanelsLog.h"
#include "settings/SaveFailureNotice.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <tuple>

using ModelTable::kFirstOutputRow;
using ModelTable::MixerCell;
using ModelTable::Role;

namespace {

constexpr int kMeterIntervalMs = 500;
// The longest a change waits for its write, and the shortest time between
// two writes.
constexpr int kSaveDelayMs = 50;
constexpr int kPhoneLeftEntry = 2;
constexpr int kPhoneRightEntry = 3;

// A microphone's switches, top to bottom, each where the table lists it.
// Names: of a lone microphone, and numbered, of one of several.
struct MicSwitchLook {
    Role role;
    const PanelDevice::MicSwitch* command; // none: DIRECT, which routes
    const char* text;
    const char* colour;
    const char* names[2];
};
const MicSwitchLook kMicSwitches[] = {
    { Role::Instrument, &PanelDevice::instrument, QT_TRANSLATE_NOOP("ModelPanel", "MIC"), PanelRecipes::kInstrumentColour,
      { QT_TRANSLATE_NOOP("ModelPanel", "Mic instrument input"), QT_TRANSLATE_NOOP("ModelPanel", "Mic %1 instrument input") } },
    { Role::Pad, &PanelDevice::pad20dB, QT_TRANSLATE_NOOP("ModelPanel", "20dB"), PanelRecipes::kPadColour,
      { QT_TRANSLATE_NOOP("ModelPanel", "Mic 20 dB pad"), QT_TRANSLATE_NOOP("ModelPanel", "Mic %1 20 dB pad") } },
    { Role::Phantom, &PanelDevice::phantom48V, QT_TRANSLATE_NOOP("ModelPanel", "48V"), PanelRecipes::kPhantomColour,
      { QT_TRANSLATE_NOOP("ModelPanel", "Mic 48V"), QT_TRANSLATE_NOOP("ModelPanel", "Mic %1 48V") } },
    { Role::Direct, nullptr, QT_TRANSLATE_NOOP("ModelPanel", "DIRECT"), PanelRecipes::kDirectColour,
      { QT_TRANSLATE_NOOP("ModelPanel", "Mic direct monitoring"), QT_TRANSLATE_NOOP("ModelPanel", "Mic %1 direct monitoring") } },
};
const char* const kMicTitles[2] = { QT_TRANSLATE_NOOP("ModelPanel", "MIC"), QT_TRANSLATE_NOOP("ModelPanel", "MIC%1") };
const char* const kGainNames[2] = { QT_TRANSLATE_NOOP("ModelPanel", "Mic gain"), QT_TRANSLATE_NOOP("ModelPanel", "Mic %1 gain") };
const char* const kLevelNames[2] = { QT_TRANSLATE_NOOP("ModelPanel", "Mic level"), QT_TRANSLATE_NOOP("ModelPanel", "Mic %1 level") };
const char* const kInstrumentOn = QT_TRANSLATE_NOOP("ModelPanel", "INST");

} // namespace

const ModelTable::MicKeys ModelTable::loneMic { {
    "Dial/MicValue", "Button/MicInstrIsChecked", "Button/Mic20dBIsChecked", "Button/Mic48VIsChecked", "Button/MonitorMicIsChecked",
} };

ModelPanel::ModelPanel(const ModelTable::Model& model)
    : QWidget(nullptr)
    , model(model)
{
    if (!device.open(model.openFailureLine, model.presetChannels,
                     [this] { QTimer::singleShot(0, this, &ModelPanel::resendControls); }))
        return;
    openStateFile();
    buildLayout();
    device.initialiseMixer(model);
    auto* meterTimer = new QTimer(this);
    connect(meterTimer, &QTimer::timeout, this, &ModelPanel::readMeterDataFromDriver);
    meterTimer->start(kMeterIntervalMs);
    loadControlStates();
}

ModelPanel::~ModelPanel()
{
    if (saveTimer && saveTimer->isActive())
        saveControlStates();
    delete settings;
}

// The file lives in the per-user application data directory; the panel
// keeps it open for its whole life.
void ModelPanel::openStateFile()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir(dir).mkpath(dir);
    settings = new QSettings(dir + model.iniFileName, QSettings::IniFormat, this);
    saveTimer = new QTimer(this);
    saveTimer->setSingleShot(true);
    saveTimer->setInterval(kSaveDelayMs);
    connect(saveTimer, &QTimer::timeout, this, &ModelPanel::saveControlStates);
}

void ModelPanel::buildLayout()
{
    bindings.resize(model.controls.size());
    QHBoxLayout* root = PanelRecipes::installRoot(this);
    const int mics = int(model.mics.size());
    for (int channel = 1; channel <= mics; ++channel)
        addMicColumn(root, channel, mics > 1);
    PanelRecipes::addSeparator(this, root);
    for (std::size_t index = 0; index < model.outputs.size(); ++index)
        addOutputColumn(root, int(index));
}

void ModelPanel::addMicColumn(QHBoxLayout* root, int channel, bool numbered)
{
    const auto text = [numbered, channel](const char* const (&forms)[2]) {
        return numbered ? tr(forms[1]).arg(channel) : tr(forms[0]);
    };
    const PanelRecipes::InputColumn column = PanelRecipes::addInputColumn(
        this, root, text(kMicTitles), model.maxGain, model.gainDisplayOffset, { text(kGainNames), text(kLevelNames) });
    levelReadouts.push_back({ column.levelReadout, channel - 1 });
    bind(Role::Gain, channel, column.gainKnob, [this, channel](int value) { return device.sendMicGain(channel, value); });
    for (const MicSwitchLook& look : kMicSwitches) {
        if (!control(look.role, channel))
            continue;
        Button* button = PanelRecipes::addSwitchButton(this, column.buttonStack, tr(look.text), look.colour, text(look.names));
        if (!look.command) {
            bind(look.role, channel, button, [this, cells = directCells(channel, numbered)](int state) { return device.sendDirect(cells, state); });
            continue;
        }
        bind(look.role, channel, button, [this, &look, channel, button](int state) {
            const bool took = device.switchMic(*look.command, channel, state);
            if (took && look.role == Role::Instrument)
                button->setText(tr(state == 1 ? kInstrumentOn : look.text));
            return took;
        });
    }
    if (model.stretchBelowSwitches)
        column.layout->addStretch();
}

// DIRECT routes into every output's left and right rows: a lone microphone
// from source columns 0 and 1, each of several from its own column into both.
std::vector<MixerCell> ModelPanel::directCells(int channel, bool numbered) const
{
    const int left = numbered ? channel - 1 : 0;
    const int right = numbered ? channel - 1 : 1;
    std::vector<MixerCell> cells;
    for (const ModelTable::Output& output : model.outputs) {
        cells.push_back({ kFirstOutputRow + output.firstGain, left });
        cells.push_back({ kFirstOutputRow + output.firstGain + 1, right });
    }
    return cells;
}

void ModelPanel::addOutputColumn(QHBoxLayout* root, int index)
{
    const ModelTable::Output& output = model.outputs[index];
    const ModelTable::OutputKind& kind = *output.kind;
    const bool hasPhone = control(Role::Phone, index);
    const PanelRecipes::OutputColumn column = PanelRecipes::addOutputColumn(
        this, root, tr(kind.title), hasPhone ? tr(kind.phoneCaption) : QString(),
        { tr(kind.names[0]), tr(kind.names[1]), tr(kind.names[2]), tr(kind.names[3]) });
    outputs.push_back(std::make_unique<OutputStrip>(output, device, column.volumeKnob));
    OutputStrip* strip = outputs.back().get();
    bind(Role::Volume, index, column.volumeKnob, [strip](int dB) { return strip->volumeChanged(dB); });
    bind(Role::Mute, index, column.muteButton, [strip](int state) { return strip->muteClicked(state); });
    bind(Role::Dim, index, column.dimButton, [strip](int state) { return strip->dimClicked(state); });
    if (!hasPhone)
        return;
    levelReadouts.push_back({ column.phone.levelReadout, kPhoneEntry });
    bind(Role::Phone, index, column.phone.knob, [strip](int dB) { return strip->phoneChanged(dB); });
}

const ModelTable::Control* ModelPanel::control(Role role, int index) const
{
    for (const ModelTable::Control& each : model.controls) {
        if (each.role == role && each.index == index)
            return &each;
    }
    return nullptr;
}

std::size_t ModelPanel::positionOf(Role role, int index) const
{
    return control(role, index) - model.controls.data();
}

const char* ModelPanel::keyOf(Role role, int index) const
{
    const int at = int(role);
    if (at < ModelTable::kMicRoles)
        return model.mics[index - 1]->byRole[at];
    return model.outputs[index].kind->keys[at - ModelTable::kMicRoles];
}

// The volumes are silent until the file says otherwise; every other
// control starts at 0 or off.
void ModelPanel::bind(Role role, int index, Knob* knob, ControlBinding::Send send)
{
    const std::size_t at = positionOf(role, index);
    bindings[at] = std::make_unique<ControlBinding>(keyOf(role, index), role == Role::Volume ? ModelTable::kSilentDb : 0, knob, std::move(send));
    connect(knob, &Knob::valueChangedSig, this, [this, at](int value) { controlChanged(at, value); });
}

void ModelPanel::bind(Role role, int index, Button* button, ControlBinding::Send send)
{
    const std::size_t at = positionOf(role, index);
    bindings[at] = std::make_unique<ControlBinding>(keyOf(role, index), button, std::move(send));
    connect(button, &Button::pressed, this, [this, at](bool state) { controlChanged(at, state); });
}

void ModelPanel::handle(Role role, int index, int value)
{
    if (isConnected() && control(role, index))
        controlChanged(positionOf(role, index), value);
}

int ModelPanel::outputOf(const ModelTable::OutputKind& kind) const
{
    for (std::size_t index = 0; index < model.outputs.size(); ++index) {
        if (model.outputs[index].kind == &kind)
            return int(index);
    }
    return -1;
}

// Values reach the settings object only in saveControlStates: given earlier,
// it would write them itself on the next pass of the event loop, once per
// change.
void ModelPanel::controlChanged(std::size_t at, int value)
{
    const ControlBinding& binding = *bindings[at];
    lastTook = binding.send(value);
    if (restoring || (applying && !lastTook))
        return;
    unsaved.insert(binding.key(), binding.state());
    if (!saveTimer->isActive())
        saveTimer->start();
    emit controlValueChanged(nameOf(at), valueOf(at));
}

// The table's file name, "/kx2.ini", names the model.
QString ModelPanel::modelName() const
{
    return QString::fromLatin1(model.iniFileName).section('/', 1).section('.', 0, 0).toUpper();
}

QString ModelPanel::nameOf(std::size_t at) const
{
    static const char* const kRoleNames[] = { "gain", "inst", "pad", "48v", "direct", "volume", "mute", "dim", "phone" };
    const ModelTable::Control& each = model.controls[at];
    const QString strip = int(each.role) < ModelTable::kMicRoles ? QStringLiteral("mic%1").arg(each.index)
                                                                  : QString::fromLatin1(model.outputs[each.index].kind->strip);
    return strip + '.' + kRoleNames[int(each.role)];
}

int ModelPanel::offsetOf(std::size_t at) const
{
    return model.controls[at].role == Role::Gain ? model.gainDisplayOffset : 0;
}

QList<ControlInfo> ModelPanel::controlInfo() const
{
    QList<ControlInfo> infos;
    for (std::size_t at = 0; at < bindings.size(); ++at) {
        const ControlBinding& binding = *bindings[at];
        infos.append({ nameOf(at), binding.isSwitch(), binding.minimum() + offsetOf(at), binding.maximum() + offsetOf(at) });
    }
    return infos;
}

QMap<QString, int> ModelPanel::controlValues() const
{
    QMap<QString, int> values;
    for (std::size_t at = 0; at < bindings.size(); ++at)
        values.insert(nameOf(at), valueOf(at));
    return values;
}

QStringList ModelPanel::applyControls(const QMap<QString, int>& values)
{
    QStringList refused;
    for (std::size_t at : applyOrder(values)) {
        if (!applyControl(at, values.value(nameOf(at))))
            refused << nameOf(at);
    }
    return refused;
}

// The table's order, except that an output's MUTE, DIM and volume go
// together where the first of them is listed: switches turning on, the
// volume, then the rest.
std::vector<std::size_t> ModelPanel::applyOrder(const QMap<QString, int>& values) const
{
    struct Step {
        std::size_t group;
        int rank;
        std::size_t at;
    };
    std::vector<Step> steps;
    for (std::size_t at = 0; at < bindings.size(); ++at) {
        if (!values.contains(nameOf(at)))
            continue;
        const ModelTable::Control& each = model.controls[at];
        if (each.role != Role::Volume && each.role != Role::Mute && each.role != Role::Dim) {
            steps.push_back({ at, 0, at });
            continue;
        }
        const std::size_t group = std::min({ positionOf(Role::Volume, each.index), positionOf(Role::Mute, each.index), positionOf(Role::Dim, each.index) });
        const bool lowers = each.role != Role::Volume && values.value(nameOf(at)) == 1 && bindings[at]->value() == 0;
        steps.push_back({ group, each.role == Role::Volume ? 1 : lowers ? 0 : 2, at });
    }
    std::stable_sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return std::tie(a.group, a.rank) < std::tie(b.group, b.rank); });
    std::vector<std::size_t> order;
    for (const Step& step : steps)
        order.push_back(step.at);
    return order;
}

// A change the device refused leaves no trace: the control shows its old
// value, the strips and the mixer record are as before, so the next record
// sent does not carry it, and nothing is stored.
bool ModelPanel::applyControl(std::size_t at, int value)
{
    ControlBinding& binding = *bindings[at];
    const int before = binding.value();
    const int wanted = value - offsetOf(at);
    if (wanted == before)
        return true;
    const auto mixer = std::make_unique<_MIXER_FADER_DATA>(device.mixerRecord());
    std::vector<OutputStrip::Flags> flags;
    for (const auto& strip : outputs)
        flags.push_back(strip->flags());
    applying = true;
    binding.setValue(wanted);
    applying = false;
    if (lastTook)
        return true;
    binding.showValue(before);
    device.setMixerRecord(*mixer);
    for (std::size_t k = 0; k < outputs.size(); ++k)
        outputs[k]->setFlags(flags[k]);
    return false;
}

void ModelPanel::loadControlStates()
{
    if (!isConnected())
        return;
    restoring = true;
    for (const auto& binding : bindings)
        binding->restore(*settings);
    qCDebug(lcPanels) << "已从配置文件加载控件状态";
    restoring = false;
    bool written = false;
    for (const auto& binding : bindings)
        written = binding->writeBack(*settings) || written;
    if (written)
        saveControlStates();
}

void ModelPanel::resendControls()
{
    restoring = true;
    for (const auto& binding : bindings)
        binding->resend();
    restoring = false;
}

// A burst of changes (a drag, a wheel) is written once, as its last state,
// 50 ms after its first change, and no later than the panel's end.
void ModelPanel::saveControlStates()
{
    if (!isConnected())
        return;
    saveTimer->stop();
    for (auto it = unsaved.cbegin(); it != unsaved.cend(); ++it)
        settings->setValue(it.key(), it.value());
    unsaved.clear();
    if (!SaveFailureNotice::instance().sync(settings)) {
        qCDebug(lcPanels) << "Failed to save control states to" << settings->fileName() << settings->status();
        return;
    }
    if (model.savedLine)
        qCDebug(lcPanels) << model.savedLine;
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

void ModelPanel::readMeterDataFromDriver()
{
    if (!device.readMeters())
        return;
    metersRead = true;
    if (isVisible())
        showLevels();
}

void ModelPanel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    showLevels();
}

int ModelPanel::sampleOf(int entry) const
{
    return entry == kPhoneEntry ? phoneSample(device.meters()) : device.meters().level[entry];
}

// Until the first successful read the readouts keep their initial text.
void ModelPanel::showLevels()
{
    if (!metersRead)
        return;
    for (const LevelReadout& readout : levelReadouts)
        readout.label->setText(levelText(sampleOf(readout.entry)));
}
