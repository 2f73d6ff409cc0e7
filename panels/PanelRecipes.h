#pragma once

#include <QString>

class Button;
class Knob;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;
class QWidget;

// The widgets and columns every model's panel is built from. Each recipe
// makes its widgets children of the panel and adds them to the given layout,
// so the model classes only say which columns and buttons they have.
namespace PanelRecipes {

inline constexpr const char* kPadColour = "#ff7f00";
inline constexpr const char* kPhantomColour = "#ff1111";
inline constexpr const char* kDirectColour = "#00FFFF";
inline constexpr const char* kInstrumentColour = "#00ff7f";
inline constexpr const char* kKeyColour = "#00FFFF";

// A microphone input: title, gain knob, level readout, "Gain" caption and a
// stack for the channel's switch buttons.
struct InputColumn {
    QVBoxLayout* layout;
    Knob* gainKnob;
    QLabel* levelReadout;
    QVBoxLayout* buttonStack;
};

// Accessible names, already translated, of a column's controls; an empty
// one gives none. The phone row's readout is always "Phone input level".
struct InputNames {
    QString gain;
    QString level;
};
struct OutputNames {
    QString volume;
    QString mute;
    QString dim;
    QString phoneLevel;
};

// The phone input's level knob beside its readout and caption.
struct PhoneRow {
    Knob* knob = nullptr;
    QLabel* levelReadout = nullptr;
};

// An output: title, volume knob, "Volume" caption, MUTE and DIM, and on the
// models that route the phone input to it, a phone row.
struct OutputColumn {
    Knob* volumeKnob;
    Button* muteButton;
    Button* dimButton;
    PhoneRow phone;
};

// The panel's root layout; columns are added to it left to right.
QHBoxLayout* installRoot(QWidget* panel);
void addSeparator(QWidget* panel, QHBoxLayout* root);
InputColumn addInputColumn(QWidget* panel, QHBoxLayout* root, const QString& title,
                           int maxGain, int displayOffset, const InputNames& names = {});
Button* addSwitchButton(QWidget* panel, QVBoxLayout* stack, const QString& text, const QString& colour,
                        const QString& accessibleName = QString());
// phoneCaption empty: the output has no phone row.
OutputColumn addOutputColumn(QWidget* panel, QHBoxLayout* root, const QString& title,
                             const QString& phoneCaption = QString(), const OutputNames& names = {});

} // namespace PanelRecipes
