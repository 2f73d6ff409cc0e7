#pragma once

#include "panels/ControlBinding.h"
#include "panels/ModelTable.h"
#include "panels/OutputStrip.h"
#include "panels/PanelDevice.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWidget>

#include <memory>
#include <vector>

class QHBoxLayout;
class QLabel;
class QSettings;
class QTimer;

// A control as programs outside the panel name it, "<strip>.<control>"
// ("mic1.48v", "headphone.mute"), with its range as the knob shows it
// (a switch: 0 and 1).
struct ControlInfo {
    QString name;
    bool isSwitch;
    int minimum;
    int maximum;
};

// A model's panel, built from its table: its own driver channel and ini
// file, a column per microphone and per output, and every control bound to
// its key. A change of any control, by hand or by restore, takes the one
// path of controlChanged: send, then store.
class ModelPanel : public QWidget
{
    Q_OBJECT

public:
    // The phone input's level: the mean magnitude of its left and right
    // samples, so opposite halves of a loud wave do not cancel.
    static int phoneSample(const _MIXER_METER_DATA& meter);
    static QString levelText(int sample);

    // Whether the device opened and took the output presets; a panel whose
    // connect failed stays empty and inert (it holds no state file).
    bool isConnected() const { return settings != nullptr; }

    // "KX1", "KX2", "KQ".
    QString modelName() const;
    // Every control in the table's order, values as the knob shows them (a
    // mic gain with the model's offset); none when the connect failed.
    QList<ControlInfo> controlInfo() const;
    QMap<QString, int> controlValues() const;
    // Sets the named controls, each through its setter as a hand does, so
    // that no output is driven louder on the way than before or after: per
    // output, MUTE and DIM turning on first, then the volume, then those
    // turning off. A control already at its value is left alone. Returns
    // the names the device refused; those keep their previous value on
    // screen, in the panel and in the file.
    QStringList applyControls(const QMap<QString, int>& values);

    // One meter poll. The driver is read every time (a failure is logged and
    // keeps the last levels); the readouts show the levels only while the
    // panel can be seen, and catch up when it is shown.
    void readMeterDataFromDriver();

    // Restores every control from the ini file. The handlers it runs send
    // the stored state to the device but leave the file alone; it is written
    // back afterwards, at once, only where it differs.
    void loadControlStates();
    // Writes the changes not yet in the file, at once.
    void saveControlStates();

    // The controls' handlers, for callers that drive the panel directly:
    // each takes its control's path, as a hand's change does, and does
    // nothing on a model without that control.
    void micKnobValueChanged(int channel, int value) { handle(ModelTable::Role::Gain, channel, value); }
    void micInstrButtonClick(int channel, int state) { handle(ModelTable::Role::Instrument, channel, state); }
    void mic48VButtonClick(int channel, int state) { handle(ModelTable::Role::Phantom, channel, state); }
    void mic20dBButtonClick(int channel, int state) { handle(ModelTable::Role::Pad, channel, state); }
    void speakerKnobValueChanged(int dB) { handle(ModelTable::Role::Volume, outputOf(ModelTable::speaker), dB); }
    void speakerMuteButtonClick(int state) { handle(ModelTable::Role::Mute, outputOf(ModelTable::speaker), state); }
    void speakerDimButtonClick(int state) { handle(ModelTable::Role::Dim, outputOf(ModelTable::speaker), state); }
    void headphoneKnobValueChanged(int dB) { handle(ModelTable::Role::Volume, outputOf(ModelTable::headphone), dB); }
    void headphoneMuteButtonClick(int state) { handle(ModelTable::Role::Mute, outputOf(ModelTable::headphone), state); }
    void headphoneDimButtonClick(int state) { handle(ModelTable::Role::Dim, outputOf(ModelTable::headphone), state); }

signals:
    // Any change after the connect's restore, by hand or by a program.
    void controlValueChanged(const QString& name, int value);

protected:
    explicit ModelPanel(const ModelTable::Model& model);
    ~ModelPanel() override;

    void showEvent(QShowEvent* event) override;

private:
    // A readout of one meter entry, or of the phone input (kPhoneEntry).
    struct LevelReadout {
        QLabel* label;
        int entry;
    };
    static constexpr int kPhoneEntry = -1;

    // A change of the control with that role and channel (or output) to
    // value, on the path a hand's change takes; nothing for a control the
    // model lacks or a panel whose connect failed.
    void handle(ModelTable::Role role, int index, int value);
    // The place of the output of that kind in the table; -1 when it has none.
    int outputOf(const ModelTable::OutputKind& kind) const;
    void openStateFile();
    void buildLayout();
    void addMicColumn(QHBoxLayout* root, int channel, bool numbered);
    void addOutputColumn(QHBoxLayout* root, int index);
    std::vector<ModelTable::MixerCell> directCells(int channel, bool numbered) const;
    const ModelTable::Control* control(ModelTable::Role role, int index) const;
    void bind(ModelTable::Role role, int index, Knob* knob, ControlBinding::Send send);
    void bind(ModelTable::Role role, int index, Button* button, ControlBinding::Send send);
    const char* keyOf(ModelTable::Role role, int index) const;
    std::size_t positionOf(ModelTable::Role role, int index) const;
    void controlChanged(std::size_t at, int value);

    QString nameOf(std::size_t at) const;
    // What the control at that place shows beyond its own value.
    int offsetOf(std::size_t at) const;
    int valueOf(std::size_t at) const { return bindings[at]->value() + offsetOf(at); }
    std::vector<std::size_t> applyOrder(const QMap<QString, int>& values) const;
    bool applyControl(std::size_t at, int value);

    // The device missed what was sent while the channel was lost.
    void resendControls();

    int sampleOf(int entry) const;
    void showLevels();

    const ModelTable::Model& model;
    PanelDevice device;
    QSettings* settings = nullptr;
    QTimer* saveTimer = nullptr;
    std::vector<std::unique_ptr<OutputStrip>> outputs;
    // In the table's order, which is the order of restoring.
    std::vector<std::unique_ptr<ControlBinding>> bindings;
    bool restoring = false;
    // While applyControls runs a setter: a refused change is not stored.
    bool applying = false;
    bool lastTook = false;
    QMap<QString, QVariant> unsaved;
    std::vector<LevelReadout> levelReadouts;
    bool metersRead = false;
};
